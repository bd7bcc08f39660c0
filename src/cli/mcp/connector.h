// What a caller of the app's connector sees: one operation with its arguments in, the app's
// result or one message out, in two steps, so that the caller knows when the app may have the
// request: until `prepare` has returned nothing has left; from `exchange` on the app may carry
// the operation out. The program's connector is `bridge` (cli/mcp/bridge.h); the MCP server
// takes a Connector, so that tests can put a stub in its place.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "cli/mcp/answer.h"
#include "cli/mcp/json.h"
#include "platform/fd.h"

namespace quorvi::mcp {

// The largest request the connector takes; callers that read arguments read no more.
inline constexpr size_t kMaxRequestBody = 1u << 20;  // 1 MiB
inline constexpr char kRequestTooLarge[] = "Request exceeds the 1 MB connector limit";

// Memory that ran out before anything was sent, and once the request may have been sent (the
// operation may have been carried out).
inline constexpr char kRequestMemory[] = "Not enough memory for the connector request";
inline constexpr char kResponseMemory[] =
    "Not enough memory for the connector response; check the note before retrying changes";

// A request ready to go: the connection to the app and the body to send on it.
struct Request {
  Fd socket;
  std::string body;
};

// The app's "result" value as compact text, or one message for the user.
using ConnectorResult = Outcome<Prewritten>;

struct Connector {
  // Everything that can fail before a byte leaves: the tag scopes, finding the app (launching it
  // if needed), connecting, writing the body. The arguments are freed before it returns.
  std::function<Outcome<Request>(std::string_view operation, Parsed arguments)> prepare;
  // Sends the request and reads the app's answer.
  std::function<ConnectorResult(Request request)> exchange;
};

}  // namespace quorvi::mcp
