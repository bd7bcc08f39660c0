// One connector operation: connect (launching the app if needed), one framed request, one
// framed response.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/mcp/connector.h"
#include "cli/mcp/json.h"

namespace quorvi::mcp {

inline constexpr size_t kMaxResponseBody = 8u << 20;  // 8 MiB

// The ConnectorCall of the program. Never throws: running out of memory is one more message.
[[nodiscard]] ConnectorResult bridge(std::string_view operation, Json arguments);

// The outcome carried by a response body: its "error" string as the message, else the text of
// "result" (null when absent or when the body is not an object). Not JSON: "Invalid connector
// response".
[[nodiscard]] ConnectorResult response_outcome(std::string_view body);

// The app bundle three levels above the executable (X.app/Contents/MacOS/name gives X.app),
// else "/Applications/Quorvi.app". QUORVI_APP_PATH is the caller's to consult first.
std::string app_bundle_path(const std::optional<std::string>& executable);

}  // namespace quorvi::mcp
