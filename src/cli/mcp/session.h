// The MCP message handler: JSON-RPC envelope, handshake state, methods. Messages of the
// stateless revision, which name their version in `params._meta`, are served beside the session
// without touching its state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/mcp/connector.h"
#include "cli/mcp/json.h"

namespace quorvi::mcp {

// Every JSON-RPC error code the server answers with.
enum class ErrorCode : std::int32_t {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kInternalError = -32603,
  kNotInitialized = -32002,
  kUnsupportedVersion = -32022,
};

// What one message makes the server write, in this order: a notification that must come before
// the response (a subscription's acknowledgement), then the response. A notification in gets
// neither.
struct Reply {
  std::optional<Json> notification;
  std::optional<Json> response;
};

class Session {
 public:
  Reply respond(Json message, const ConnectorCall& connector);

 private:
  bool initialize_answered_ = false;
  bool ready_ = false;
};

// {"error":{"code":code,"message":message},"id":id or null,"jsonrpc":"2.0"}
Json error_response(const Json* id, ErrorCode code, std::string_view message);

// Whether a message is of the stateless revision: its params name a version in `_meta`.
bool is_stateless(const Json& message);

// A tool call's failure after it reached the app: a result with `isError` true and `message`,
// complete and naming the server in the stateless revision.
Json tool_failure_response(Json id, std::string message, bool stateless);

}  // namespace quorvi::mcp
