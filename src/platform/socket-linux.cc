#include <sys/socket.h>

#include "platform/socket.h"

namespace quorvi {

Fd unix_stream_socket() {
  return Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

// Linux has no SO_NOSIGPIPE; the flag keeps a closed peer from raising the signal.
ssize_t send_no_sigpipe(int fd, const void* data, size_t size) {
  return ::send(fd, data, size, MSG_NOSIGNAL);
}

// The credentials recorded when the listener called listen(); _GNU_SOURCE (which g++ defines)
// declares struct ucred.
std::optional<uid_t> peer_uid(int fd) {
  struct ucred peer {};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) {
    return std::nullopt;
  }
  return peer.uid;
}

}  // namespace quorvi
