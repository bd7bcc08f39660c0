#include "platform/opener.h"

#ifndef QUORVI_OPENER_PATH
#error "QUORVI_OPENER_PATH must name the opener"
#endif

namespace quorvi {

const char* const kOpenerPath = QUORVI_OPENER_PATH;

}  // namespace quorvi
