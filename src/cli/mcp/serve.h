// The MCP transport: one JSON-RPC message per line in, one line out per response.
#pragma once

#include "base/outcome.h"
#include "cli/mcp/connector.h"

namespace quorvi::mcp {

// A line may hold this many bytes, its line feed included.
inline constexpr size_t kMaxLine = 1u << 20;

// Serves until `input` ends (Ok) or reading or writing fails (a message, not shown to users).
[[nodiscard]] Outcome<Ok> serve(int input, int output, const Connector& connector);

}  // namespace quorvi::mcp
