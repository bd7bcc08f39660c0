#include "frame.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "stop.h"

namespace quorvi::standin {
namespace {

enum class Got { kOk, kShortRead, kStopped };

Got read_exact(int fd, std::string& into, size_t size) {
  into.resize(size);
  size_t have = 0;
  while (have < size) {
    Wake wake = wait_for(fd, POLLIN, kIdleMs);
    if (wake == Wake::kStop) return Got::kStopped;
    if (wake == Wake::kTimeout) return Got::kShortRead;
    ssize_t got = ::read(fd, into.data() + have, size - have);
    if (got > 0) {
      have += static_cast<size_t>(got);
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      return Got::kShortRead;
    }
  }
  return Got::kOk;
}

}  // namespace

Request read_request(int fd) {
  Request request;
  std::string header;
  Got got = read_exact(fd, header, 4);
  if (got != Got::kOk) {
    request.status = got == Got::kStopped ? Read::kStopped : Read::kNoFrame;
    return request;
  }
  uint32_t length = 0;
  for (char byte : header)
    length = (length << 8) | static_cast<unsigned char>(byte);
  if (length == 0 || length > kMaxRequest) {
    request.status = Read::kBadSize;
    return request;
  }
  got = read_exact(fd, request.body, length);
  request.status = got == Got::kOk        ? Read::kOk
                   : got == Got::kStopped ? Read::kStopped
                                          : Read::kNoFrame;
  return request;
}

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    if (wait_for(fd, POLLOUT, kIdleMs) != Wake::kReady) return false;
    ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put > 0) {
      bytes.remove_prefix(static_cast<size_t>(put));
    } else if (put == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      return false;
    }
  }
  return true;
}

std::string length_prefix(uint32_t length) {
  std::string bytes(4, '\0');
  for (int i = 3; i >= 0; --i, length >>= 8)
    bytes[i] = static_cast<char>(length & 0xff);
  return bytes;
}

std::string frame(std::string_view body) {
  return length_prefix(static_cast<uint32_t>(body.size())) + std::string(body);
}

}  // namespace quorvi::standin
