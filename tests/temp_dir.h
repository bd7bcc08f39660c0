// Files for tests, unit and end-to-end: a private temporary directory removed with everything in
// it, and whole-file reads and writes.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace quorvi::test {

class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "quorvi-test-XXXXXX").string()) {
    if (!::mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Empty when there is no such file.
inline std::string read_file(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

inline void write_file(const std::string& path, const std::string& bytes, unsigned mode = 0600) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  if (::chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace quorvi::test
