// Decodes arbitrary octets as a few constructed types and writes the value
// page of each result. The printed value may hold only the page's own markup
// (links to type definitions, the marker image) and references for the
// characters that would open a tag or a reference; afterwards the value
// prints as before, so the page's print behaviours are gone again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "definitions.h"
#include "tul.h"

namespace {

using tul::fuzz::define;
using tul::fuzz::kExplicit;
using tul::fuzz::kImplicit;
using tul::fuzz::member;

TUL_Metadata* make_dictionary() {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  if (!md) std::abort();
  TUL_Asn1Type rec[] = {
      member("id", "OBJECT IDENTIFIER"),
      member("v", "ANY DEFINED BY", 0, 0, "id"),
      member("n", "INTEGER", kImplicit, 0, nullptr, TUL_MANDATORY),
      member("kids", "Recs", kExplicit, 1),
      member("pick", "Pick"),
      member("s", "IA5String", kImplicit, 2),
      member("any", "ANY", kExplicit, 3),
  };
  define(md, "Rec", "SEQUENCE", sizeof rec / sizeof rec[0], rec);
  TUL_Asn1Type recs[] = {member(nullptr, "Rec")};
  define(md, "Recs", "SEQUENCE OF", 1, recs);
  TUL_Asn1Type pick[] = {member("b", "BOOLEAN"), member("o", "OCTET STRING", kImplicit, 3),
                         member("c", "Pick", kExplicit, 4), member("r", "Rec", kExplicit, 5)};
  define(md, "Pick", "CHOICE", sizeof pick / sizeof pick[0], pick);
  TUL_Asn1Type bag[] = {member("a", "INTEGER", kImplicit, 0), member("t", "ANY", kExplicit, 1),
                        member("p", "Pick")};
  define(md, "Bag", "SET", sizeof bag / sizeof bag[0], bag);
  return md;
}

constexpr const char* kTypes[] = {"Rec", "Recs", "Pick", "Bag", "ANY"};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string slurp(const std::string& path) {
  std::string text;
  if (FILE* in = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, n);
    std::fclose(in);
  }
  return text;
}

bool starts(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, std::strlen(prefix), prefix) == 0;
}

// Every "<" opens one of the page's own tags, every "&" a reference.
void check_markup(const std::string& page) {
  const size_t start = page.find("\n<pre>\n");
  const size_t end = page.find("\n</pre>\n", start);
  check(start != std::string::npos && end != std::string::npos);
  for (size_t at = start + 7; at < end; ++at) {
    if (page[at] == '&') {
      check(starts(page, at, "&lt;") || starts(page, at, "&amp;") || starts(page, at, "&quot;"));
    } else if (page[at] == '<') {
      if (starts(page, at, "<a href=\"asn1types.html#")) {
        const size_t close = page.find("\">", at);
        check(close != std::string::npos && page.find_first_of("<\"", at + 24) == close);
      } else {
        check(starts(page, at, "</a>") || starts(page, at, "<img src=\"reddot.gif\">"));
      }
    }
  }
}

// The pages' directory, removed when the run ends.
struct PageDirectory {
  PageDirectory() {
    char pattern[] = "/tmp/tul-html-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    path = pattern;
  }
  ~PageDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TUL_Metadata* md = make_dictionary();
  static const PageDirectory pages;
  const std::string& directory = pages.path;
  if (size > (1u << 16)) return 0;
  TUL_Object* ber = TUL_new("BER-String", md, static_cast<int>(size), reinterpret_cast<const char*>(data));
  if (!ber || ber->error) std::abort();
  for (const char* type : kTypes) {
    TUL_Object* value = TUL_decode(type, ber, md);
    if (value && !value->error) {
      char* before = TUL_print2str(value);
      check(TUL_print_HTML(value, directory.c_str()) == 0);
      check_markup(slurp(directory + "/value.html"));
      char* after = TUL_print2str(value);
      check(before && after && std::strcmp(before, after) == 0);
      std::free(before);
      std::free(after);
    }
    TUL_free(value);
  }
  TUL_free(ber);
  return 0;
}
