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

// Skips white space and "--" comments from `at`, counting lines.
std::size_t skip_blanks(const std::string& text, std::size_t at, int& line) {
  while (at < text.size()) {
    if (text[at] == '\n') ++line;
    if (text.compare(at, 2, "--") == 0) {
      const std::size_t end = text.find_first_of('\n', at);
      const std::size_t close = text.find("--", at + 2);
      at = close < end ? close + 2 : end;
      continue;
    }
    if (!std::strchr(" \t\r\n", text[at])) break;
    ++at;
  }
  return std::min(at, text.size());
}

// Whether the file opens as ASN.1 source does: a reference, perhaps an
// object identifier in braces, then DEFINITIONS or "::=". `line` gets the
// line of that word.
bool starts_like_asn1_module(const std::string& path, int& line) {
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;
  char head[4096];
  const std::string text(head, std::fread(head, 1, sizeof head, in));
  std::fclose(in);
  line = 1;
  std::size_t at = skip_blanks(text, 0, line);
  if (at >= text.size() || text[at] < 'A' || text[at] > 'Z') return false;
  at = text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-", at);
  at = skip_blanks(text, at == std::string::npos ? text.size() : at, line);
  if (at < text.size() && text[at] == '{') {
    const std::size_t close = text.find('}', at);
    for (std::size_t i = at; i < close && i < text.size(); ++i) line += text[i] == '\n';
    at = close == std::string::npos ? text.size() : skip_blanks(text, close + 1, line);
  }
  return text.compare(at, 11, "DEFINITIONS") == 0 || text.compare(at, 3, "::=") == 0;
}

// ASN.1 source is not read yet: the message says what --defs takes instead.
bool load_asn1_module(TUL_Metadata*, const std::string& path, int line) {
  report("%s:%d: this is ASN.1 module syntax, which --defs does not read.\n"
         "A definitions file holds meta-schema values, one per type, such as\n"
         "  TUL.Asn1 { name 'Counter', type 'INTEGER',\n"
         "             tagClass application, tagValue 1, tagModifier implicit }\n"
         "See 'tul describe TUL.Asn1' for the members and 'tul describe TYPE' for\n"
         "the definition of any type as such a value.",
         path.c_str(), line);
  return false;
}

}  // namespace

bool load_definitions(TUL_Metadata* md, const std::string& given) {
  const std::string path = find_definitions(given);
  if (is_persistence_path(path)) return load_persistence(md, path);
  int line = 0;
  if (starts_like_asn1_module(path, line)) return load_asn1_module(md, path, line);
  // The loader's messages name the file and line; flush what was printed
  // before so they follow it.
  std::fflush(stdout);
  return TUL_load_definitions_file(md, path.c_str(), stderr) == 0;
}

}  // namespace tul::cli
