#include "platform/input.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include "platform/fd.h"
#include "platform/io.h"

namespace quorvi {
namespace {

constexpr size_t kChunk = 64 * 1024;

bool file_or_pipe(mode_t mode) {
  return S_ISREG(mode) || S_ISFIFO(mode);
}

InputFault open_fault(int error) {
  return error == ENOENT || error == ENOTDIR ? InputFault::no_such_file : InputFault::unreadable;
}

// Standard input may come in non-blocking mode from whoever started us: wait for bytes then.
bool wait_readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  for (;;) {
    int ready = ::poll(&entry, 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && !(entry.revents & POLLNVAL);
  }
}

int open_for_reading(const std::string& path) {
  for (;;) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

}  // namespace

InputRead read_at_most(int fd, size_t limit) {
  std::string bytes;
  for (;;) {
    size_t room = limit + 1 - bytes.size();
    if (room == 0) return InputFault::too_large;
    size_t used = bytes.size();
    bytes.resize(used + (room < kChunk ? room : kChunk));
    ssize_t got = read_some(fd, bytes.data() + used, bytes.size() - used);
    bool again = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    bytes.resize(used + static_cast<size_t>(got < 0 ? 0 : got));
    if (again && wait_readable(fd)) continue;
    if (got < 0) return InputFault::unreadable;
    if (got == 0) return bytes;
  }
}

InputRead read_file_at_most(const std::string& path, size_t limit) {
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0) return open_fault(errno);
  if (!file_or_pipe(before.st_mode)) return InputFault::not_file_or_pipe;
  Fd file(open_for_reading(path));
  if (!file.valid()) return open_fault(errno);
  // The path may have been replaced between the two looks; what was opened is what counts.
  struct stat opened {};
  if (::fstat(file.get(), &opened) != 0) return InputFault::unreadable;
  if (!file_or_pipe(opened.st_mode)) return InputFault::not_file_or_pipe;
  return read_at_most(file.get(), limit);
}

}  // namespace quorvi
