// Replays fuzz inputs through a fuzz entry point without libFuzzer, so the
// corpora and the regression inputs run as ordinary tests with any compiler.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replay_file(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 1;
  std::vector<uint8_t> bytes;
  int c;
  while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

int replay(const std::string& path, int* count) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;  // a missing directory holds no inputs
  if (!S_ISDIR(st.st_mode)) {
    ++*count;
    return replay_file(path);
  }
  DIR* dir = opendir(path.c_str());
  if (!dir) return 1;
  int failures = 0;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    failures += replay(path + "/" + name, count);
  }
  closedir(dir);
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0, failures = 0;
  for (int i = 1; i < argc; ++i) failures += replay(argv[i], &count);
  std::printf("replayed %d inputs\n", count);
  return failures == 0 ? 0 : 1;
}
