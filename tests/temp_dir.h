// Files for tests, unit and end-to-end: a private temporary directory removed with everything in
// it, and whole-file reads and writes; and the order of a wait and what it waits for.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

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

// Whether the process or thread whose /proc status file is `stat` ("/proc/PID/stat", say) sleeps
// in the kernel, as a read, poll or open that waits does (Linux).
inline bool sleeping(const std::string& stat) {
  std::string fields = read_file(stat);
  size_t name_end = fields.rfind(") ");  // the state follows the command's name
  return name_end != std::string::npos && fields[name_end + 2] == 'S';
}

// A thread that runs `late` once the thread that calls this sleeps, waiting for what `late`
// brings; else once asked to stop (when it is dropped), or after 10 seconds. So the bytes, writer
// or signal that a wait is tested for come while it waits, with no sleep that guesses when that
// is, and a wait that never starts cannot hang the test.
inline std::jthread when_blocked(std::function<void()> late) {
  std::string waiter = "/proc/self/task/" + std::to_string(::gettid()) + "/stat";
  return std::jthread([late, waiter](std::stop_token stop) {
    for (int ms = 0; ms < 10000 && !stop.stop_requested() && !sleeping(waiter); ++ms)
      ::usleep(1000);
    late();
  });
}

}  // namespace quorvi::test
