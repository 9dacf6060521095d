// The definitions-file loader over arbitrary text: each input is read as
// one file into a fresh dictionary, and what loaded is stored, listed and
// checked, so parse faults, duplicates and dangling references all meet
// the loader's reporting.
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "dict.h"
#include "tul.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  TUL_Metadata* md = TUL_new_Metadata();
  if (md) {
    tul::dict::load_definitions_text(md, std::string_view(reinterpret_cast<const char*>(data), size), "fuzz", sink);
    TUL_check_Metadata(md, sink);
    TUL_free_Metadata(md);
  }
  TUL_free_unique_strings();
  return 0;
}
