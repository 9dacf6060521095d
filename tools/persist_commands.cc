// The commands of the tul program around persistence and reports: loading
// persistence files given as --defs, storing the dictionary, listing and
// checking it, and writing it as a C header.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace tul::cli {
namespace {

// The library's own reports name the file inside a directory that failed;
// the program's message then says what became of the run.
class LibraryTrace {
 public:
  LibraryTrace() : was_(TUL_get_option(TUL_OPTION_TRACE_ERROR)) { TUL_set_option(TUL_OPTION_TRACE_ERROR, 1); }
  ~LibraryTrace() { TUL_set_option(TUL_OPTION_TRACE_ERROR, was_); }
  LibraryTrace(const LibraryTrace&) = delete;
  LibraryTrace& operator=(const LibraryTrace&) = delete;

 private:
  int was_;
};

bool is_identifier(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

bool copy_to_stdout(const std::string& path) {
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;
  char chunk[8192];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) std::fwrite(chunk, 1, n, stdout);
  const bool ok = !std::ferror(in);
  std::fclose(in);
  return ok;
}

}  // namespace

bool is_persistence_path(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;  // the value-notation reader reports it
  unsigned char head[4] = {};
  const std::size_t n = std::fread(head, 1, sizeof head, in);
  std::fclose(in);
  static constexpr unsigned char kLegacyLength[4] = {0, 0, 0, 33};
  return (n >= 3 && std::memcmp(head, "DTD", 3) == 0) || (n == 4 && std::memcmp(head, kLegacyLength, 4) == 0);
}

bool load_persistence(TUL_Metadata* md, const std::string& path) {
  int line = 0;
  int code;
  {
    LibraryTrace trace;
    code = TUL_load_Metadata_status(md, path.c_str(), &line);
  }
  if (code == 0) return true;
  const std::string where = line > 0 ? path + ":" + std::to_string(line) : path;
  report("%s: cannot load the persistence definitions (error %d, reported above)", where.c_str(), code);
  return false;
}

int run_store(TUL_Metadata* md, const Invocation& inv) {
  const std::string& out = inv.arguments[0];
  LibraryTrace trace;
  const int code = TUL_store_Metadata(md, out.c_str());
  if (code == 0) return kExitOk;
  report("%s: cannot store the dictionary (error %d, reported above)", out.c_str(), code);
  return kExitFailure;
}

int run_list(TUL_Metadata* md, const Invocation&) {
  TUL_print_Metadata(md);
  return kExitOk;
}

int run_check(TUL_Metadata* md, const Invocation&) {
  return TUL_check_Metadata(md, stdout) == 0 ? kExitOk : kExitFailure;
}

// The generator names its file after the array, so it writes into a private
// directory that the header is then copied out of.
int run_header(TUL_Metadata* md, const Invocation& inv) {
  const std::string& name = inv.arguments[0];
  if (!is_identifier(name)) {
    report("header: '%s' is not a C identifier", name.c_str());
    return kExitUsage;
  }
  char dir[] = "/tmp/tul-header-XXXXXX";
  const int here = open(".", O_RDONLY | O_DIRECTORY);
  if (here < 0 || !mkdtemp(dir) || chdir(dir) != 0) {
    report("header: cannot make a working directory: %s", std::strerror(errno));
    if (here >= 0) close(here);
    return kExitFailure;
  }
  char tul_prefix[] = "TUL";
  char* ignore[] = {tul_prefix, nullptr};
  const std::string file = name + ".h";
  int code;
  {
    LibraryTrace trace;
    code = TUL_generate_Metadata_string(md, name.c_str(), ignore);
  }
  const bool copied = code == 0 && copy_to_stdout(file);
  std::remove(file.c_str());
  const bool back = fchdir(here) == 0;
  close(here);
  rmdir(dir);
  if (!copied || !back) {
    report("header: cannot write the header (error %d)", code);
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace tul::cli
