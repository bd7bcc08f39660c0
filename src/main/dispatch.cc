// placeholder: being written
#include "main/dispatch.h"

namespace quorvi {
int dispatch(const std::vector<std::string>&) { return 1; }
}  // namespace quorvi
