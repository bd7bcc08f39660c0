// Waiting until a descriptor that was handed over in non-blocking mode can be read or written.
#pragma once

namespace quorvi {

enum class Waiting { read, write };

// Blocks until `fd` is ready for `waiting` or at its end (a read then sees the end of input or
// the error, a write the error), retrying EINTR. False when the descriptor cannot be waited on:
// it is not open, or the system cannot watch it. Never spins: after true, a read or write does
// not fail with EAGAIN again unless another reader or writer took the bytes or the room first.
bool wait_ready(int fd, Waiting waiting);

// The two ways wait_ready uses, chosen per descriptor by platform: poll(2), and select(2) for
// what macOS's poll does not support (devices such as terminals). Both work on every POSIX
// system, so both are tested on each.
bool poll_ready(int fd, Waiting waiting);
bool select_ready(int fd, Waiting waiting);

}  // namespace quorvi
