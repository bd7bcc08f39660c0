// Reads and writes on descriptors. A call cut short by a signal is retried, and a descriptor
// handed over in non-blocking mode is waited on (platform/wait.h) rather than taken for a broken
// one. On a blocking descriptor EAGAIN can only be a socket's timeout (SO_RCVTIMEO,
// SO_SNDTIMEO), and it is a failure.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvi {

// The size of one read of a whole input.
inline constexpr size_t kChunk = 64 * 1024;

// write(2), or a socket's send without the broken-pipe signal (platform/socket.h).
using WriteCall = ssize_t (*)(int fd, const void* data, size_t size);

// Writes every byte with `call`, repeating partial writes. False on any failure, a write of no
// bytes included.
[[nodiscard]] bool write_all(int fd, std::string_view bytes, WriteCall call = nullptr);

// Writes the pieces one after another with as few system calls as they allow (one, unless the
// descriptor takes part), allocating nothing. At most eight pieces.
[[nodiscard]] bool write_pieces(int fd, std::initializer_list<std::string_view> pieces);

// True when `fd` is a terminal.
bool is_terminal(int fd);

// One read(2): the byte count, 0 at end of input, -1 on failure.
[[nodiscard]] ssize_t read_some(int fd, char* buffer, size_t size);

// Exactly `size` bytes; false when the input ends before them or a read fails.
[[nodiscard]] bool read_exactly(int fd, char* buffer, size_t size);

// Appends what `fd` holds up to its end, but never more than `limit` bytes, to `bytes`: what
// follows stays unread. False when a read fails.
[[nodiscard]] bool read_up_to(int fd, size_t limit, std::string& bytes);

}  // namespace quorvi
