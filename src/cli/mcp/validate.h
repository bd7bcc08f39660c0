#pragma once

#include <optional>
#include <string>

#include "cli/mcp/json.h"

namespace quorvi::mcp {

// Why `arguments` break a catalogue `inputSchema`, or nothing when they satisfy it: they must be
// an object, hold every required name, and hold only members listed in "properties", each with
// a value of its string, boolean or integer type, integers within any signed 64-bit "minimum"
// and "maximum". The reason names the member and the rule, e.g. `"limit" must be at most 200`;
// the first fault found is the one given (required names in their order, then the members in
// ascending key order). The catalogue has no enumerations, string lengths or nested objects, so
// none of those is checked.
[[nodiscard]] std::optional<std::string> argument_fault(const Json& schema, const Json& arguments);

// The same check as a yes or no.
[[nodiscard]] bool valid_arguments(const Json& schema, const Json& arguments);

}  // namespace quorvi::mcp
