// Unix-domain stream sockets, where macOS and Linux differ.
#pragma once

#include <sys/types.h>
#include <sys/un.h>

#include <optional>
#include <string>

#include "platform/fd.h"

namespace quorvi {

// The longest socket path that fits sockaddr_un: sun_path less its terminating byte (103 bytes
// on macOS, 107 on Linux).
inline size_t max_socket_path() {
  return sizeof(sockaddr_un::sun_path) - 1;
}

// A close-on-exec stream socket whose sends never raise SIGPIPE; invalid on failure.
[[nodiscard]] Fd unix_stream_socket();

// send(2) without SIGPIPE: SO_NOSIGPIPE on macOS covers it; Linux needs MSG_NOSIGNAL. The
// WriteCall of write_all (platform/io.h) for sockets.
ssize_t send_no_sigpipe(int fd, const void* data, size_t size);

// The effective user id of the process at the other end of a connected socket (the one that
// called listen()), as the kernel recorded it; nothing when it cannot be read.
[[nodiscard]] std::optional<uid_t> peer_uid(int fd);

}  // namespace quorvi
