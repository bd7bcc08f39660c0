#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket.h"

namespace quorvi {

// macOS has no SOCK_CLOEXEC: the flag is set right after creation. A socket that cannot be
// made close-on-exec or quiet on a closed peer is not handed out.
Fd unix_stream_socket() {
  Fd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd.valid()) return fd;
  int flags = ::fcntl(fd.get(), F_GETFD);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFD, flags | FD_CLOEXEC) != 0) return Fd();
  int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) return Fd();
  return fd;
}

// SO_NOSIGPIPE on the socket already keeps a closed peer from raising the signal.
ssize_t send_no_sigpipe(int fd, const void* data, size_t size) {
  return ::send(fd, data, size, 0);
}

// getpeereid(2) gives the effective ids the peer had when it called listen() (for the accepting
// side, connect()).
std::optional<uid_t> peer_uid(int fd) {
  uid_t uid = 0;
  gid_t gid = 0;
  if (::getpeereid(fd, &uid, &gid) != 0) return std::nullopt;
  return uid;
}

}  // namespace quorvi
