#pragma once

#include <optional>
#include <string>

namespace quorvi {

// The running executable's path as the system reports it, symlinks unresolved; nothing when
// it cannot be had.
std::optional<std::string> executable_path();

}  // namespace quorvi
