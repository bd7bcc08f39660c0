#pragma once

#include "cli/mcp/json.h"

namespace quorvi::mcp {

// True when `arguments` satisfy a catalogue `inputSchema`: an object, every required name
// present, every member listed in "properties" with a value of its string, boolean or
// integer type, integers within any signed 64-bit "minimum" and "maximum".
bool valid_arguments(const Json& schema, const Json& arguments);

}  // namespace quorvi::mcp
