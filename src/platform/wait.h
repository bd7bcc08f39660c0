// Waiting until a descriptor that was handed over in non-blocking mode can be read or written.
#pragma once

#include <string>

#include "platform/fd.h"

namespace quorvi {

enum class Waiting { kRead, kWrite };

// Blocks until `fd` is ready for `waiting` or at its end (a read then sees the end of input or
// the error, a write the error), retrying EINTR. False when the descriptor cannot be waited on:
// it is not open, or the system cannot watch it. After true the next read or write makes
// progress, unless another reader or writer of the same descriptor took the bytes or the room.
[[nodiscard]] bool wait_ready(int fd, Waiting waiting);

// The two ways wait_ready uses, chosen per descriptor by platform: poll(2), and select(2) for
// what macOS's poll does not support (devices such as terminals). Both work on every POSIX
// system, so both are tested on each.
[[nodiscard]] bool poll_ready(int fd, Waiting waiting);
[[nodiscard]] bool select_ready(int fd, Waiting waiting);

// Waits until a writer comes to the named pipe `fifo`, opened from `path` without blocking:
// until then a read finds its end. Leaves in `fifo` the descriptor to read; false when the wait
// failed or `path` no longer names that pipe.
[[nodiscard]] bool wait_for_writer(Fd& fifo, const std::string& path);

// The two ways wait_for_writer uses: poll, which waits for a writer's first bytes or its close
// (Linux); and a second, blocking open of `path` that must give the same pipe, for systems whose
// pipe reads as ended, and is reported ready, until a writer opens it (macOS).
[[nodiscard]] bool poll_for_writer(Fd& fifo, const std::string& path);
[[nodiscard]] bool reopen_for_writer(Fd& fifo, const std::string& path);

}  // namespace quorvi
