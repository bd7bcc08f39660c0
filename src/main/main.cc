// Process entry: the broken-pipe signal is ignored so that a closed reader makes a write fail
// with an error instead of ending the process. The child-ended signal gets its default action
// back: ignored, as a parent may leave it, children are reaped at once and waiting for one
// fails, so a URL handed over would be reported as not opened.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "main/dispatch.h"

namespace {

// A standard descriptor that the process was started without is taken by the null device,
// opened the other way round: the next socket or file cannot land on it and receive output
// meant for the user, and reading or writing it still fails as before.
void hold_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free descriptor, which is `fd` since the lower ones are held.
    int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) ::close(held);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGCHLD, SIG_DFL);
  hold_closed_standard_descriptors();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return quorvi::dispatch(args);
}
