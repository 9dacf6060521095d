// Files the tests write and read back: a temporary directory, whole-file
// reads and an in-memory stream.
#ifndef TUL_TESTS_SUPPORT_FILES_H
#define TUL_TESTS_SUPPORT_FILES_H

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tul::test {

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tul-test-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~TempDir() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  const std::string& path() const { return path_; }
  // Writes `content` to the file `name` in the directory; its path.
  std::string file(const std::string& name, const std::string& content) const {
    const std::string at = path_ + "/" + name;
    std::ofstream(at, std::ios::binary) << content;
    return at;
  }

 private:
  std::string path_;
};

// A stream writing to memory; take() closes it and gives what was written.
class MemoryFile {
 public:
  MemoryFile() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryFile() { take(); }
  FILE* get() const { return file_; }
  std::string take() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    std::string out = data_ ? std::string(data_, size_) : "";
    std::free(data_);
    data_ = nullptr;
    return out;
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  FILE* file_;
};

}  // namespace tul::test

#endif
