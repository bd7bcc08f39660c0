#include "cli/mcp/serve.h"

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/mcp/json.h"
#include "cli/mcp/session.h"
#include "cli/mcp/tool_result.h"
#include "platform/io.h"
#include "platform/standard_streams.h"

namespace quorvi::mcp {
namespace {

// Input is read in large chunks; lines are cut out of the chunk.
struct Reader {
  int fd;
  std::vector<char> chunk = std::vector<char>(kChunk);
  size_t start = 0;
  size_t end = 0;
  bool ended = false;
};

enum class Read { kData, kEnded, kFailed };

// Refills the chunk when it is used up. A descriptor left non-blocking by whoever handed it to
// us is waited on (by read_some) rather than taken for a broken stream.
Read fill(Reader& reader) {
  if (reader.start < reader.end) return Read::kData;
  if (reader.ended) return Read::kEnded;
  ssize_t got = read_some(reader.fd, reader.chunk.data(), reader.chunk.size());
  if (got > 0) {
    reader.start = 0;
    reader.end = static_cast<size_t>(got);
    return Read::kData;
  }
  if (got == 0 || missing_input(errno)) {
    reader.ended = true;
    return Read::kEnded;
  }
  return Read::kFailed;
}

// Appends the next line to `line`, its line feed included, but never more than `limit` bytes
// in all. Returns kEnded only when nothing was left to read.
Read read_line(Reader& reader, std::string& line, size_t limit) {
  while (line.size() < limit) {
    Read state = fill(reader);
    if (state == Read::kFailed) return state;
    if (state == Read::kEnded) return line.empty() ? Read::kEnded : Read::kData;
    const char* begin = reader.chunk.data() + reader.start;
    size_t size = std::min(reader.end - reader.start, limit - line.size());
    const void* feed = std::memchr(begin, '\n', size);
    if (feed) size = static_cast<size_t>(static_cast<const char*>(feed) - begin) + 1;
    line.append(begin, size);
    reader.start += size;
    if (feed) break;
  }
  return Read::kData;
}

// Drops input up to and including the next line feed, keeping none of it.
bool skip_line(Reader& reader) {
  for (;;) {
    Read state = fill(reader);
    if (state != Read::kData) return state == Read::kEnded;
    const char* begin = reader.chunk.data() + reader.start;
    size_t size = reader.end - reader.start;
    const void* feed = std::memchr(begin, '\n', size);
    if (feed) {
      reader.start += static_cast<size_t>(static_cast<const char*>(feed) - begin) + 1;
      return true;
    }
    reader.start = reader.end;
  }
}

// The app's answer to an accepted tool call. `fallback` is set, before the app may have the
// request, to the answer that memory running out from then on calls for: the call's failure.
ConnectorResult call_app(const ToolAnswer& tool, ToolCall& call, const Connector& connector,
                         std::string& fallback) {
  Outcome<Request> request = connector.prepare(call.operation, std::move(call.arguments));
  if (failed(request)) return failure_of(request);
  std::string reached;  // whole before it stands in for the answer
  write_tool_response(tool.id, fail(kResponseMemory), tool.stateless, reached);
  fallback = std::move(reached);
  return connector.exchange(std::move(value_of(request)));
}

// Writes the tool result of a tools/call into `text`: of the call, or of its refusal.
void answer_tool(ToolAnswer& tool, const Connector& connector, std::string& text,
                 std::string& fallback) {
  ConnectorResult result = failed(tool.call)
                               ? ConnectorResult(failure_of(tool.call))
                               : call_app(tool, value_of(tool.call), connector, fallback);
  write_tool_response(tool.id, std::move(result), tool.stateless, text);
}

// Answers one line into `text`, in the order the lines go out. `fallback` is kept ready for
// memory running out: the answer that then stands in for this message's, once its id is known.
void answer_line(Session& session, std::string_view line, const Connector& connector,
                 std::string& text, std::string& fallback) {
  if (line.size() > kMaxLine) {
    text += error_line(nullptr, ErrorCode::kInvalidRequest, "Request exceeds 1 MB");
    return;
  }
  // The id first, without the tree, so that running out of memory while the tree is built can
  // still be answered for it.
  std::optional<Json> id = read_id(line);
  if (id) fallback = error_line(*id, ErrorCode::kInternalError, "Internal error");
  std::optional<Parsed> message = id ? parse(line) : std::nullopt;
  if (!message) {
    text += error_line(nullptr, ErrorCode::kParseError, "Parse error");
    return;
  }
  Reply reply = session.respond(std::move(*message));
  text += reply.notification;
  text += reply.response;
  if (reply.tool) answer_tool(*reply.tool, connector, text, fallback);
}

}  // namespace

Outcome<Ok> serve(int input, int output, const Connector& connector) {
  Reader reader{input};
  Session session;
  std::string line, text, fallback;
  const std::string no_id = error_line(nullptr, ErrorCode::kInternalError, "Internal error");
  for (;;) {
    line.clear();
    Read state = read_line(reader, line, kMaxLine + 1);
    if (state == Read::kEnded) return Ok{};
    if (state == Read::kFailed) return fail("MCP input failed");
    if (line.size() > kMaxLine && line.back() != '\n' && !skip_line(reader)) {
      return fail("MCP input failed");
    }

    text.clear();
    fallback.clear();
    bool out_of_memory = false;
    try {
      answer_line(session, line, connector, text, fallback);
    } catch (const std::bad_alloc&) {
      // Memory ran out somewhere in this message, and everything built for it is freed by now.
      // The answer that was kept ready goes instead, and the session goes on.
      out_of_memory = true;
    }
    const std::string& answer = !out_of_memory ? text : fallback.empty() ? no_id : fallback;
    if (!write_all(output, answer)) return fail("MCP output failed");
  }
}

}  // namespace quorvi::mcp
