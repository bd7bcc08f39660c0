// Starting a child by absolute path and waiting for it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvi {

enum class ChildOutput { kInherit, kNullDevice };

// Runs `path` (no search) with `args` (argv[1..]), inheriting environment and working
// directory; the standard descriptors are inherited, or all three are the null device. The
// child starts with the default broken-pipe action, no signal blocked and, where the system
// allows it, no descriptor but the standard three (platform/spawn_inheritance.h). Waits for
// it, retrying EINTR.
// Returns the exit status when the child exited normally; nothing when it could not be started
// or ended by a signal.
[[nodiscard]] std::optional<int> run_and_wait(const char* path,
                                              const std::vector<std::string>& args,
                                              ChildOutput output);

}  // namespace quorvi
