// What a caller of the app's connector sees: one operation with its arguments in, the app's
// result or one message out. The program reaches it through `bridge` (cli/mcp/bridge.h); the
// MCP session and server take it as a ConnectorCall, so that tests can put a stub in its place.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "base/outcome.h"
#include "cli/mcp/json.h"
#include "cli/mcp/lean.h"

namespace quorvi::mcp {

// The largest request the connector takes; callers that read arguments read no more.
inline constexpr size_t kMaxRequestBody = 1u << 20;  // 1 MiB
inline constexpr char kRequestTooLarge[] = "Request exceeds the 1 MB connector limit";

// An allocation failure before anything was sent, and once the request may have been sent (the
// operation may have been carried out).
inline constexpr char kRequestMemory[] = "Not enough memory for the connector request";
inline constexpr char kResponseMemory[] =
    "Not enough memory for the connector response; check the note before retrying changes";

// The app's "result" value as compact text, or one message for the user.
using ConnectorResult = Outcome<Prewritten>;

// One connector operation. Never throws: running out of memory is one more message.
using ConnectorCall = std::function<ConnectorResult(std::string_view operation, Json arguments)>;

}  // namespace quorvi::mcp
