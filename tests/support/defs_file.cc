#include "support/defs_file.h"

#include "support/files.h"

namespace tul::test {

std::string load_definitions_file(TUL_Metadata* md, const std::string& path) {
  MemoryFile report;
  const int code = TUL_load_definitions_file(md, path.c_str(), report.get());
  return code ? report.take() + "code " + std::to_string(code) : "";
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
