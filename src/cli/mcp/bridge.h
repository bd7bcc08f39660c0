// One connector operation: connect (launching the app if needed), one framed request, one
// framed response.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "cli/mcp/json.h"
#include "cli/mcp/lean.h"

namespace quorvi::mcp {

inline constexpr size_t kMaxRequestBody = 1u << 20;   // 1 MiB
inline constexpr size_t kMaxResponseBody = 8u << 20;  // 8 MiB
inline constexpr char kRequestTooLarge[] = "Request exceeds the 1 MB connector limit";

// An allocation failure before anything was sent, and once the request may have been sent (the
// operation may have been carried out).
inline constexpr char kRequestMemory[] = "Not enough memory for the connector request";
inline constexpr char kResponseMemory[] =
    "Not enough memory for the connector response; check the note before retrying changes";

// The app's "result" value as compact text, or one message for the user.
using ConnectorResult = Outcome<Prewritten>;

// How the MCP session reaches the connector; `bridge` in the program, a stub in tests.
using ConnectorCall = std::function<ConnectorResult(std::string_view operation, Json arguments)>;

// Never throws: running out of memory is one more message.
ConnectorResult bridge(std::string_view operation, Json arguments);

// The outcome carried by a response body: its "error" string as the message, else the text of
// "result" (null when absent or when the body is not an object). Not JSON: "Invalid connector
// response".
ConnectorResult response_outcome(std::string_view body);

// The app bundle three levels above the executable (X.app/Contents/MacOS/name gives X.app),
// else "/Applications/Quorvi.app". QUORVI_APP_PATH is the caller's to consult first.
std::string app_bundle_path(const std::optional<std::string>& executable);

}  // namespace quorvi::mcp
