#include "support/defs_file.h"

#include <cstdio>

namespace tul::test {

std::string load_definitions_file(TUL_Metadata* md, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return "cannot open " + path;
  // The end of the file is found as a parse error; not worth a report.
  int trace = TUL_get_option(TUL_OPTION_TRACE_ERROR);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  std::string problem;
  for (int line = 1; problem.empty();) {
    TUL_Object* value = TUL_parse(md, f, &line);
    if (value && value->error == TUL_ERR_EOF) {
      TUL_free(value);
      break;
    }
    TUL_Object* entered = value && !value->error ? TUL_add_definition(md, value) : value;
    if (entered != value || !value || value->error)
      problem = path + ":" + std::to_string(line) + ": " + (entered ? TUL_read_str(entered) : "no value");
    if (entered != value) TUL_free(entered);
    TUL_free(value);
  }
  std::fclose(f);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, trace);
  return problem;
}

std::string example_path(const std::string& name) { return std::string(TUL_EXAMPLES) + "/" + name; }

TUL_Object* encode_text(TUL_Metadata* md, const std::string& text) {
  TUL_Object* value = TUL_parse_str(md, text.c_str());
  if (!value || value->error) return value;
  TUL_Object* ber = TUL_encode(value);
  TUL_free(value);
  return ber;
}

}  // namespace tul::test
