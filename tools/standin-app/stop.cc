#include "stop.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

namespace quorvi::standin {
namespace {

// Written once by the handler and never drained, so it stays readable: the stop is sticky.
int stop_pipe[2] = {-1, -1};

void on_stop(int) {
  int saved = errno;
  char byte = 's';
  [[maybe_unused]] ssize_t ignored = ::write(stop_pipe[1], &byte, 1);
  errno = saved;
}

bool set_flags(int fd) {
  return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 &&
         ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}

}  // namespace

bool install_stop_handlers() {
  if (::pipe(stop_pipe) != 0 || !set_flags(stop_pipe[0]) || !set_flags(stop_pipe[1])) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
         ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

Wake wait_for(int fd, short events, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int remaining = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      remaining = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd fds[2] = {{stop_pipe[0], POLLIN, 0}, {fd, events, 0}};
    int n = ::poll(fds, fd >= 0 ? 2 : 1, remaining);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Wake::kStop;  // poll itself failing leaves nothing sensible to wait for
    }
    if (fds[0].revents != 0) return Wake::kStop;
    if (fd >= 0 && fds[1].revents != 0) return Wake::kReady;
    if (n == 0 && timeout_ms >= 0) return Wake::kTimeout;
  }
}

}  // namespace quorvi::standin
