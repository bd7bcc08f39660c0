// The MCP message handler: JSON-RPC envelope, handshake state, methods. Requests of the
// stateless revision, which name their version in `params._meta`, are served beside the session
// without touching its state.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "cli/mcp/bridge.h"
#include "cli/mcp/json.h"

namespace quorvi::mcp {

class Session {
 public:
  // The response to write, or nothing for a notification.
  std::optional<Json> respond(Json message, const ConnectorCall& connector);

 private:
  bool initialize_answered_ = false;
  bool ready_ = false;
};

// {"error":{"code":code,"message":message},"id":id or null,"jsonrpc":"2.0"}
Json error_response(const Json* id, std::int32_t code, std::string_view message);

}  // namespace quorvi::mcp
