// Blocking reads and writes on descriptors, retried when a signal interrupts them.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace quorvi {

// Writes every byte, retrying partial writes and EINTR. False on any other failure.
bool write_all(int fd, std::string_view bytes);

// One read(2) retried on EINTR: the byte count, 0 at end of input, -1 on failure.
ssize_t read_some(int fd, char* buffer, size_t size);

}  // namespace quorvi
