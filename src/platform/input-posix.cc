#include "platform/input.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/fd.h"
#include "platform/io.h"
#include "platform/wait.h"

namespace quorvi {
namespace {

bool file_or_pipe(mode_t mode) {
  return S_ISREG(mode) || S_ISFIFO(mode);
}

// Why `path` could not be opened. A socket cannot be opened (ENXIO), and a directory without
// read permission not for reading: those are refused for what they are.
InputFault open_fault(const std::string& path, int error) {
  if (error == ENOENT || error == ENOTDIR) return InputFault::kNoSuchFile;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !file_or_pipe(info.st_mode)) {
    return InputFault::kNotFileOrPipe;
  }
  return InputFault::kUnreadable;
}

int open_without_waiting(const std::string& path) {
  for (;;) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

}  // namespace

InputRead read_at_most(int fd, size_t limit) {
  std::string bytes;
  if (!read_up_to(fd, limit + 1, bytes)) return InputFault::kUnreadable;
  if (bytes.size() > limit) return InputFault::kTooLarge;
  return bytes;
}

InputRead read_file_at_most(const std::string& path, size_t limit) {
  Fd file(open_without_waiting(path));
  if (!file.valid()) return open_fault(path, errno);
  struct stat opened {};
  if (::fstat(file.get(), &opened) != 0) return InputFault::kUnreadable;
  if (!file_or_pipe(opened.st_mode)) return InputFault::kNotFileOrPipe;
  if (S_ISFIFO(opened.st_mode) && !wait_for_writer(file, path)) return InputFault::kUnreadable;
  return read_at_most(file.get(), limit);
}

}  // namespace quorvi
