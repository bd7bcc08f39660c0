#include "platform/io.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

namespace quorvi {
namespace {

bool wait_writable(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  for (;;) {
    int ready = ::poll(&entry, 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && !(entry.revents & (POLLERR | POLLNVAL));
  }
}

}  // namespace

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      // A descriptor handed over in non-blocking mode: wait until it takes bytes again.
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable(fd)) continue;
      return false;
    }
    if (written == 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

ssize_t read_some(int fd, char* buffer, size_t size) {
  for (;;) {
    ssize_t got = ::read(fd, buffer, size);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

}  // namespace quorvi
