#include <sys/select.h>
#include <sys/stat.h>

#include "platform/wait.h"

namespace quorvi {

// macOS's poll(2) does not support devices (its BUGS section): for a terminal it answers
// POLLNVAL at once. select(2) supports them, within FD_SETSIZE; the three standard descriptors,
// the only devices waited on, always fit.
bool wait_ready(int fd, Waiting waiting) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  if (S_ISCHR(info.st_mode) && fd < FD_SETSIZE) return select_ready(fd, waiting);
  return poll_ready(fd, waiting);
}

// Until a writer opens it, a named pipe's reading end is at its end, and select and poll say it
// is ready. Only a blocking open waits for the writer; it must open the very pipe the first open
// found, so that nothing put in its place meanwhile is read.
bool wait_for_writer(Fd& fifo, const std::string& path) {
  return reopen_for_writer(fifo, path);
}

}  // namespace quorvi
