#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/stat.h>

#include "platform/wait.h"

namespace quorvi {

bool poll_ready(int fd, Waiting waiting) {
  short wanted = waiting == Waiting::kRead ? POLLIN : POLLOUT;
  pollfd entry{fd, wanted, 0};
  for (;;) {
    int ready = ::poll(&entry, 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (entry.revents & POLLNVAL)) return false;
    // A hang-up or an error ends a read (the read then reports it); nothing more can be written.
    if (waiting == Waiting::kWrite) return (entry.revents & (POLLERR | POLLHUP)) == 0;
    return true;
  }
}

bool select_ready(int fd, Waiting waiting) {
  if (fd < 0 || fd >= FD_SETSIZE) return false;
  for (;;) {
    fd_set watched;
    FD_ZERO(&watched);
    FD_SET(fd, &watched);
    // select marks a descriptor at its end or in error as ready; the read or write tells which.
    int ready = waiting == Waiting::kRead ? ::select(fd + 1, &watched, nullptr, nullptr, nullptr)
                                          : ::select(fd + 1, nullptr, &watched, nullptr, nullptr);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && FD_ISSET(fd, &watched);
  }
}

bool poll_for_writer(Fd& fifo, const std::string&) {
  return poll_ready(fifo.get(), Waiting::kRead);
}

bool reopen_for_writer(Fd& fifo, const std::string& path) {
  struct stat opened {
  }, reopened{};
  if (::fstat(fifo.get(), &opened) != 0) return false;
  Fd blocking;
  do {
    blocking.reset(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
  } while (!blocking.valid() && errno == EINTR);
  if (!blocking.valid() || ::fstat(blocking.get(), &reopened) != 0) return false;
  if (reopened.st_dev != opened.st_dev || reopened.st_ino != opened.st_ino) return false;
  fifo = std::move(blocking);
  return true;
}

}  // namespace quorvi
