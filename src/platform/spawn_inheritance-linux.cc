#include "platform/spawn_inheritance.h"

namespace quorvi {

bool inherit_standard_only(posix_spawn_file_actions_t&, bool, short&) {
  return true;
}

}  // namespace quorvi
