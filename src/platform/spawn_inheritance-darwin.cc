#include "platform/spawn_inheritance.h"

namespace quorvi {

// With POSIX_SPAWN_CLOEXEC_DEFAULT only descriptors named by a file action reach the child, so
// descriptors an MCP host handed over without close-on-exec stay behind. An inherit action
// (posix_spawn_file_actions_addinherit_np) keeps a descriptor as it is.
bool inherit_standard_only(posix_spawn_file_actions_t& actions, bool standard_set, short& flags) {
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
  if (standard_set) return true;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::posix_spawn_file_actions_addinherit_np(&actions, fd) != 0) return false;
  }
  return true;
}

}  // namespace quorvi
