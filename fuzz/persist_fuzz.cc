// Persistence load over arbitrary file contents: each input becomes a file
// that a fresh dictionary loads, so both formats' readers, the signature
// detection and the entry insertion see damaged and hostile files.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tul.h"

namespace {

// One scratch file per process, removed at exit.
const std::string& scratch_path() {
  static const std::string path = [] {
    char pattern[] = "/tmp/tul-persist-fuzz-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit([] { unlink(scratch_path().c_str()); });
    return std::string(pattern);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = scratch_path();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  if (md) {
    int line = 0;
    TUL_load_Metadata_status(md, path.c_str(), &line);
    TUL_free_Metadata(md);
  }
  TUL_free_unique_strings();
  return 0;
}
