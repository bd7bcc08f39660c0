// What a spawned child inherits besides the three standard descriptors, where the systems differ.
#pragma once

#include <spawn.h>

namespace quorvi {

// Adds to `flags` and `actions` what keeps every descriptor but 0, 1 and 2 from the child, where
// the system can: macOS closes each descriptor without a file action (POSIX_SPAWN_CLOEXEC_DEFAULT),
// so the standard ones get actions that keep them unless `standard_set` says the actions already
// set all three. Linux has no such flag: there only descriptors without close-on-exec, which this
// program never opens, reach the child. False when an action cannot be added.
[[nodiscard]] bool inherit_standard_only(posix_spawn_file_actions_t& actions, bool standard_set,
                                         short& flags);

}  // namespace quorvi
