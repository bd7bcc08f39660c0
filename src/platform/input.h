// Reading one whole input of bounded size: a file named on the command line, or standard input.
#pragma once

#include <stddef.h>

#include <string>
#include <variant>

namespace quorvi {

// Why an input gave no bytes.
enum class InputFault { no_such_file, unreadable, not_file_or_pipe, too_large };

using InputRead = std::variant<std::string, InputFault>;

// Reads `fd` to its end, retrying EINTR, but never more than `limit` + 1 bytes: an input longer
// than `limit` is too_large, and what follows that byte stays unread.
InputRead read_at_most(int fd, size_t limit);

// Reads the regular file or named pipe at `path` the same way, opened close-on-exec. Anything
// else (a directory, a device, a socket) is refused before it is opened, so that opening it
// cannot block or have side effects. A named pipe is read once a writer opens it.
InputRead read_file_at_most(const std::string& path, size_t limit);

}  // namespace quorvi
