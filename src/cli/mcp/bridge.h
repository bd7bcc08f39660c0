// One connector operation: connect (launching the app if needed), one framed request, one
// framed response.
#pragma once

#include <optional>
#include <string>

#include "cli/mcp/connector.h"

namespace quorvi::mcp {

inline constexpr size_t kMaxResponseBody = 8u << 20;  // 8 MiB

// The connector of the program: the app's, through its socket.
extern const Connector bridge;

// The app bundle three levels above the executable (X.app/Contents/MacOS/name gives X.app),
// else "/Applications/Quorvi.app". QUORVI_APP_PATH is the caller's to consult first.
std::string app_bundle_path(const std::optional<std::string>& executable);

}  // namespace quorvi::mcp
