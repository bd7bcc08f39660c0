#include "platform/standard_streams.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace quorvi {

void hold_missing_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free descriptor, which is `fd` since the lower ones are held.
    int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) ::close(held);
  }
}

bool missing_input(int error) {
  return error == EBADF;
}

}  // namespace quorvi
