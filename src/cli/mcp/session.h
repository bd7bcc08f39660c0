// The MCP message handler: JSON-RPC envelope, handshake state, methods. Messages of the
// stateless revision, which name their version in `params._meta`, are served beside the session
// without touching its state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/outcome.h"
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

// An accepted tool call: the connector operation and its arguments.
struct ToolCall {
  std::string operation;
  Parsed arguments;
};

// A tools/call that is answered with a tool result (tool_result.h): the call to make, or, in the
// stateless revision, why its arguments were refused, which the model reads as a tool error.
struct ToolAnswer {
  Json id;
  bool stateless;
  Outcome<ToolCall> call;
};

// What one message makes the server write, in this order: a notification that must come before
// the response (a subscription's acknowledgement), then the response; each a whole line with its
// line feed, or empty. A tools/call that reached the tools gives `tool` instead of a response:
// the server makes the call and writes its result. A notification in gets nothing.
struct Reply {
  std::string notification;
  std::string response;
  std::optional<ToolAnswer> tool;
};

class Session {
 public:
  Reply respond(Parsed message);

 private:
  bool initialize_answered_ = false;
  bool ready_ = false;
};

// The line {"error":{"code":code,"message":message},"id":id,"jsonrpc":"2.0"}.
std::string error_line(const Json& id, ErrorCode code, std::string_view message);

// A message's id as an answer carries it when memory runs out before the message is served: a
// string or a number, else null. Read without building the message's tree; nothing when the line
// is not one JSON value.
std::optional<Json> read_id(std::string_view line);

// The `_meta` that every result of the stateless revision carries, naming the server.
const Json& server_meta();

}  // namespace quorvi::mcp
