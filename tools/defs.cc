// The --defs option of the tul program: finds the file (a bare name also in
// the installed example definitions), tells persistence files, ASN.1
// modules and definitions files apart, and hands each to its loader.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "cli.h"

namespace tul::cli {
namespace {

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Where the installed definitions are: share/tul beside the program's own
// prefix (so a moved installation still finds them), then the configured
// one.
std::vector<std::string> shared_definition_dirs() {
  std::vector<std::string> dirs;
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string program(self, static_cast<std::size_t>(n));
    const std::string bin = program.substr(0, program.rfind('/'));
    dirs.push_back(bin.substr(0, bin.rfind('/')) + "/share/tul");
  }
#ifdef TUL_DATADIR
  dirs.emplace_back(TUL_DATADIR);
#endif
  return dirs;
}

// `path` itself when it names something or holds a directory part, else the
// first installed file called so, with or without ".defs" or ".per" added.
std::string find_definitions(const std::string& path) {
  if (path.find('/') != std::string::npos || exists(path)) return path;
  for (const std::string& dir : shared_definition_dirs())
    for (const char* suffix : {"", ".defs", ".per"}) {
      const std::string candidate = dir + "/" + path + suffix;
      if (exists(candidate)) return candidate;
    }
  return path;
}

}  // namespace

bool load_definitions(TUL_Metadata* md, const std::string& given) {
  const std::string path = find_definitions(given);
  if (is_persistence_path(path)) return load_persistence(md, path);
  if (is_module_file(path)) return import_definitions(md, {path}, false);
  // The loader's messages name the file and line; flush what was printed
  // before so they follow it.
  std::fflush(stdout);
  return TUL_load_definitions_file(md, path.c_str(), stderr) == 0;
}

}  // namespace tul::cli
