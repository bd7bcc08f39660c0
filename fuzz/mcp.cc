// The MCP server with a stub connector: the input as one message through Session::respond, then
// the same bytes as a stream through mcp::serve. Every answer is one line holding a JSON-RPC
// response (or a subscription's acknowledgement before one), and there is never more than one
// response per line of input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "cli/mcp/json.h"
#include "cli/mcp/serve.h"
#include "cli/mcp/session.h"
#include "platform/fd.h"

using quorvi::mcp::Json;

namespace {

// Echoes the operation and arguments, or fails when the arguments hold an odd number of members.
quorvi::Outcome<quorvi::mcp::Request> prepare(std::string_view operation,
                                              quorvi::mcp::Parsed arguments) {
  if (arguments->is_object() && arguments->size() % 2) return quorvi::fail("stub failure");
  return quorvi::mcp::Request{
      quorvi::Fd(), quorvi::mcp::write(Json::object(
                        {{"operation", std::string(operation)}, {"arguments", *arguments}}))};
}

quorvi::mcp::ConnectorResult exchange(quorvi::mcp::Request request) {
  return quorvi::mcp::Prewritten(**quorvi::mcp::parse(request.body));
}

const quorvi::mcp::Connector kStub = {prepare, exchange};

void check_response(const Json& response) {
  FUZZ_CHECK(response.is_object());
  auto jsonrpc = response.find("jsonrpc");
  FUZZ_CHECK(jsonrpc != response.end() && *jsonrpc == "2.0");
  FUZZ_CHECK(response.contains("id"));
  FUZZ_CHECK(response.contains("result") != response.contains("error"));
  FUZZ_CHECK(response.size() == 3);
  std::string line = quorvi::mcp::write(response);
  FUZZ_CHECK(line.find('\n') == std::string::npos);
}

// The one notification the server sends, just before the response that ends the subscription.
bool is_acknowledgement(const Json& line) {
  return line.is_object() && line.value("method", "") == "notifications/subscriptions/acknowledged";
}

quorvi::Fd memory_file(std::string_view bytes) {
  quorvi::Fd fd(::memfd_create("fuzz", MFD_CLOEXEC));
  FUZZ_CHECK(fd.valid());
  FUZZ_CHECK(::write(fd.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  FUZZ_CHECK(::lseek(fd.get(), 0, SEEK_SET) == 0);
  return fd;
}

std::string read_back(int fd) {
  std::string out;
  FUZZ_CHECK(::lseek(fd, 0, SEEK_SET) == 0);
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
    out.append(buffer, static_cast<size_t>(got));
  FUZZ_CHECK(got == 0);
  return out;
}

quorvi::mcp::Parsed message_of(const std::string& text) {
  return std::move(*quorvi::mcp::parse(text));
}

// Each line of `written` as JSON.
std::vector<Json> lines_of(const std::string& written) {
  std::vector<Json> lines;
  for (size_t at = 0; at < written.size();) {
    size_t feed = written.find('\n', at);
    FUZZ_CHECK(feed != std::string::npos);  // every answer ends with its line feed
    std::optional<quorvi::mcp::Parsed> line =
        quorvi::mcp::parse(std::string_view(written).substr(at, feed - at));
    FUZZ_CHECK(line.has_value());
    lines.push_back(**line);
    at = feed + 1;
  }
  return lines;
}

void one_message(std::string_view text, bool handshake) {
  quorvi::mcp::Session session;
  if (handshake) {
    session.respond(
        message_of(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":)"
                   R"("2025-11-25","capabilities":{},"clientInfo":{}}})"));
    session.respond(message_of(R"({"jsonrpc":"2.0","method":"notifications/initialized"})"));
  }
  std::optional<quorvi::mcp::Parsed> message = quorvi::mcp::parse(text);
  if (!message) return;
  bool request = (*message)->is_object() && (*message)->contains("id");
  quorvi::mcp::Reply reply = session.respond(std::move(*message));
  std::vector<Json> response = lines_of(reply.response);
  std::vector<Json> notification = lines_of(reply.notification);
  FUZZ_CHECK(response.size() <= 1 && notification.size() <= 1);
  FUZZ_CHECK(!(reply.tool && !response.empty()));
  if (request) FUZZ_CHECK(!response.empty() || reply.tool);
  if (!response.empty()) check_response(response.front());
  if (!notification.empty())
    FUZZ_CHECK(!response.empty() && is_acknowledgement(notification.front()));
}

void stream(std::string_view bytes) {
  quorvi::Fd input = memory_file(bytes);
  quorvi::Fd output = memory_file("");
  auto outcome = quorvi::mcp::serve(input.get(), output.get(), kStub);
  FUZZ_CHECK(!quorvi::failed(outcome));
  std::string written = read_back(output.get());
  size_t lines_in = 0;
  for (size_t at = 0; at < bytes.size(); ++lines_in) {
    size_t feed = bytes.find('\n', at);
    at = feed == std::string_view::npos ? bytes.size() : feed + 1;
  }
  size_t responses = 0;
  for (const Json& line : lines_of(written)) {
    if (is_acknowledgement(line)) {
      FUZZ_CHECK(!line.contains("id"));
    } else {
      check_response(line);
      ++responses;
    }
  }
  FUZZ_CHECK(responses <= lines_in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  one_message(bytes, size % 3 != 0);
  // The stream starts with the handshake so that tool calls get through.
  std::string session =
      R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"x",)"
      R"("capabilities":{},"clientInfo":{}}})"
      "\n"
      R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
      "\n";
  session.append(bytes);
  stream(session);
  return 0;
}
