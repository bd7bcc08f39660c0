#include <errno.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <iterator>

#include "platform/io.h"
#include "platform/wait.h"

namespace quorvi {
namespace {

// After EAGAIN: whether to try again, having waited.
bool waited_after_again(int fd, Waiting waiting) {
  if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK) != 0 && wait_ready(fd, waiting);
}

ssize_t plain_write(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}

}  // namespace

bool write_all(int fd, std::string_view bytes, WriteCall call) {
  if (call == nullptr) call = plain_write;
  while (!bytes.empty()) {
    ssize_t written = call(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR || waited_after_again(fd, Waiting::kWrite)) continue;
      return false;
    }
    if (written == 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool write_pieces(int fd, std::initializer_list<std::string_view> pieces) {
  struct iovec vectors[8];
  size_t count = 0;
  for (std::string_view piece : pieces) {
    if (piece.empty()) continue;
    if (count == std::size(vectors)) return false;
    vectors[count++] = {const_cast<char*>(piece.data()), piece.size()};
  }
  struct iovec* next = vectors;
  while (count > 0) {
    ssize_t written = ::writev(fd, next, static_cast<int>(count));
    if (written < 0) {
      if (errno == EINTR || waited_after_again(fd, Waiting::kWrite)) continue;
      return false;
    }
    if (written == 0) return false;
    // Drops what went out; the rest of a piece cut short goes with the next call.
    auto done = static_cast<size_t>(written);
    while (count > 0 && done >= next->iov_len) {
      done -= next->iov_len;
      ++next;
      --count;
    }
    if (count > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + done;
      next->iov_len -= done;
    }
  }
  return true;
}

bool is_terminal(int fd) {
  return ::isatty(fd) == 1;
}

ssize_t read_some(int fd, char* buffer, size_t size) {
  for (;;) {
    ssize_t got = ::read(fd, buffer, size);
    if (got < 0 && (errno == EINTR || waited_after_again(fd, Waiting::kRead))) continue;
    return got;
  }
}

bool read_exactly(int fd, char* buffer, size_t size) {
  while (size > 0) {
    ssize_t got = read_some(fd, buffer, size);
    if (got <= 0) return false;
    buffer += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool read_up_to(int fd, size_t limit, std::string& bytes) {
  size_t end = bytes.size() + limit;
  while (bytes.size() < end) {
    size_t used = bytes.size();
    size_t room = end - used;
    bytes.resize(used + (room < kChunk ? room : kChunk));
    ssize_t got = read_some(fd, bytes.data() + used, bytes.size() - used);
    bytes.resize(used + static_cast<size_t>(got < 0 ? 0 : got));
    if (got <= 0) return got == 0;
  }
  return true;
}

}  // namespace quorvi
