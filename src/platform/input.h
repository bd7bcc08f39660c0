// Reading one whole input of bounded size: a file named on the command line, or standard input.
#pragma once

#include <stddef.h>

#include <string>
#include <variant>

namespace quorvi {

// Why an input gave no bytes.
enum class InputFault { kNoSuchFile, kUnreadable, kNotFileOrPipe, kTooLarge };

using InputRead = std::variant<std::string, InputFault>;

// Reads `fd` to its end, retrying EINTR, but never more than `limit` + 1 bytes: an input longer
// than `limit` is kTooLarge, and what follows that byte stays unread.
[[nodiscard]] InputRead read_at_most(int fd, size_t limit);

// Reads the regular file or named pipe at `path` the same way. The decision is made on what was
// opened: the path is opened without blocking, without following into a controlling terminal
// and close-on-exec, then anything but a regular file or a named pipe (a directory, a device) is
// closed unread; a socket cannot be opened at all and is refused the same way. Opening a device
// this way does not wait for it, but its driver does see the open and the close. A named pipe is
// read once a writer has come (platform/wait.h).
[[nodiscard]] InputRead read_file_at_most(const std::string& path, size_t limit);

}  // namespace quorvi
