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

// `text` is the caller's buffer, kept from one response to the next so that it is not grown
// again for each one.
[[nodiscard]] bool send(int output, const Json& response, std::string& text) {
  text.clear();
  // Room for exactly this line: a buffer grown by doubling would, while copying, hold up to
  // twice a large answer.
  text.reserve(written_size(response) + 1);
  write(response, text);
  text.push_back('\n');
  return write_all(output, text);
}

}  // namespace

Outcome<Ok> serve(int input, int output, const ConnectorCall& connector) {
  Reader reader{input};
  Session session;
  std::string line, text;
  // Whether the message being answered reached the connector: the app may then have carried it
  // out, and a failure after that must say so in a tool result for the request's id.
  bool reached = false;
  const ConnectorCall tracked = [&](std::string_view operation, Json arguments) {
    reached = true;
    return connector(operation, std::move(arguments));
  };
  for (;;) {
    line.clear();
    Read state = read_line(reader, line, kMaxLine + 1);
    if (state == Read::kEnded) return Ok{};
    if (state == Read::kFailed) return fail("MCP input failed");

    std::optional<Json> response;
    Json id;
    bool stateless = false;
    reached = false;
    try {
      if (line.size() > kMaxLine) {
        if (line.back() != '\n' && !skip_line(reader)) return fail("MCP input failed");
        response = error_response(nullptr, ErrorCode::kInvalidRequest, "Request exceeds 1 MB");
      } else if (std::optional<Json> message = parse(line)) {
        ReleaseAtExit release_message(*message);
        if (auto found = message->find("id"); message->is_object() && found != message->end()) {
          if (found->is_string() || found->is_number()) id = *found;
        }
        stateless = is_stateless(*message);
        Reply reply = session.respond(std::move(*message), tracked);
        if (reply.notification && !send(output, *reply.notification, text)) {
          return fail("MCP output failed");
        }
        response = std::move(reply.response);
      } else {
        response = error_response(nullptr, ErrorCode::kParseError, "Parse error");
      }
      if (response && !send(output, *response, text)) return fail("MCP output failed");
    } catch (const std::bad_alloc&) {
      // Memory ran out somewhere in this message, and everything built for it is freed. A
      // short answer still fits, and the session goes on.
      if (response) release(*response);
      response.reset();
      text = std::string();
      Json answer = reached ? tool_failure_response(std::move(id), kResponseMemory, stateless)
                            : error_response(&id, ErrorCode::kInternalError, "Internal error");
      if (!send(output, answer, text)) return fail("MCP output failed");
    }
  }
}

}  // namespace quorvi::mcp
