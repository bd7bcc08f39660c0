#include "platform/wait.h"

namespace quorvi {

// Linux's poll supports every kind of descriptor, terminals included.
bool wait_ready(int fd, Waiting waiting) {
  return poll_ready(fd, waiting);
}

}  // namespace quorvi
