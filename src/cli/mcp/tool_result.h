// The response to a tools/call that is answered with a tool result, sized for the clients that
// read it.
#pragma once

#include <cstddef>
#include <string>

#include "cli/mcp/connector.h"
#include "cli/mcp/json.h"

namespace quorvi::mcp {

// The longest line, its line feed included, that common MCP clients read; a longer one ends
// their session. Every line we write stays within it.
inline constexpr size_t kMaxClientLine = 10'485'760;
// A tool result's share of such a line. The rest, 1 MiB, holds the response around it, whose
// only large part is the request's id, itself part of an input line of at most 1 MiB.
inline constexpr size_t kMaxToolResult = 9u << 20;

// Appends the response line, its line feed included, for request `id` to `line`. A success
// carries the answer S = {"result":V} twice, as the text of its one content block and as
// structuredContent. When both would make the result outgrow kMaxToolResult the text goes alone;
// when the text alone would, structuredContent goes with a short text that says so; when neither
// fits, a short text says the result was too large. A failure is its message, shortened to fit,
// with isError true. In the stateless revision the result is also complete and names the server.
void write_tool_response(const Json& id, ConnectorResult outcome, bool stateless,
                         std::string& line);

}  // namespace quorvi::mcp
