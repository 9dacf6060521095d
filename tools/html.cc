// The html command: documents the dictionary, or one typed value and the
// dictionary, as static pages. The library ends the process when it cannot
// create or write a page, so the directory is made and tried here first,
// where a failure can be reported and the run can end with an exit status.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli.h"

namespace tul::cli {
namespace {

struct FreeValue {
  void operator()(TUL_Object* obj) const { TUL_free(obj); }
};
using ValuePtr = std::unique_ptr<TUL_Object, FreeValue>;

// Creates `directory` when missing and writes a probe file into it. False,
// with a message, when either fails.
bool directory_is_writable(const std::string& directory) {
  if (directory.empty()) {
    report("html: the directory name is empty");
    return false;
  }
  if (mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
    report("cannot create directory '%s': %s", directory.c_str(), std::strerror(errno));
    return false;
  }
  std::string probe = directory + "/.tul-html-XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) {
    report("cannot write into directory '%s': %s", directory.c_str(), std::strerror(errno));
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

// The one typed value of the file at `path`. Null, with a message, when the
// file cannot be read or parsed or holds no value or more than one.
ValuePtr read_one_value(TUL_Metadata* md, const std::string& path) {
  InputFile input(path);
  if (!input.ok()) return nullptr;
  ValueReader reader(md, input);
  TUL_Object* first = nullptr;
  switch (reader.next(&first)) {
    case ValueReader::Status::kError:
      return nullptr;
    case ValueReader::Status::kEnd:
      report("%s: no value to document", input.name().c_str());
      return nullptr;
    case ValueReader::Status::kValue:
      break;
  }
  ValuePtr value(first);
  TUL_Object* next = nullptr;
  switch (reader.next(&next)) {
    case ValueReader::Status::kEnd:
      return value;
    case ValueReader::Status::kValue:
      TUL_free(next);
      report("%s:%d: a second value; the page documents one", input.name().c_str(), reader.value_line());
      return nullptr;
    case ValueReader::Status::kError:
      return nullptr;
  }
  return nullptr;
}

}  // namespace

int run_html(TUL_Metadata* md, const Invocation& inv) {
  const std::string& directory = inv.arguments[0];
  ValuePtr value;
  if (inv.value) {
    value = read_one_value(md, inv.value_file);
    if (!value) return kExitFailure;
  }
  if (!directory_is_writable(directory)) return kExitFailure;
  const int status =
      value ? TUL_print_HTML(value.get(), directory.c_str()) : TUL_generate_HTML(md, directory.c_str());
  return status == 0 ? kExitOk : kExitFailure;
}

}  // namespace tul::cli
