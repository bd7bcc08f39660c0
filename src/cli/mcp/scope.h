// Tag scopes from QUORVI_ONLY_TAGS and QUORVI_EXCLUDE_TAGS.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"
#include "cli/mcp/json.h"

namespace quorvi::mcp {

// Splits valid UTF-8 text at commas and line feeds; trims Unicode white space, then every
// leading and trailing "#"; lower-cases with the full mapping; drops empty pieces.
std::vector<std::string> normalize_tags(std::string_view text);

// {"excludeTags":[...],"onlyTags":[...]}, read afresh from the environment. A variable that
// is set but not valid UTF-8 refuses the request rather than widening access.
[[nodiscard]] Outcome<Json> scope();

}  // namespace quorvi::mcp
