#include "platform/wait.h"

namespace quorvi {

// Linux's poll supports every kind of descriptor, terminals included.
bool wait_ready(int fd, Waiting waiting) {
  return poll_ready(fd, waiting);
}

// A reader that came first sees no hang-up until a writer has come and gone.
bool wait_for_writer(Fd& fifo, const std::string& path) {
  return poll_for_writer(fifo, path);
}

}  // namespace quorvi
