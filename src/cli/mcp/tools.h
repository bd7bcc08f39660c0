// The fixed catalogue of the fourteen connector operations offered as MCP tools.
#pragma once

#include "cli/mcp/json.h"

namespace quorvi::mcp {

inline constexpr char kToolPrefix[] = "quorvi_";

// A new array of the fourteen tool objects in catalogue order. Depends on nothing at run time.
Json tools();

}  // namespace quorvi::mcp
