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

#include "check.h"
#include "cli/mcp/json.h"
#include "cli/mcp/serve.h"
#include "cli/mcp/session.h"
#include "platform/fd.h"

using quorvi::mcp::Json;

namespace {

// Echoes the arguments, or fails when they hold an odd number of members.
quorvi::mcp::ConnectorResult stub(std::string_view operation, Json arguments) {
  if (arguments.is_object() && arguments.size() % 2) return quorvi::fail("stub failure");
  return quorvi::mcp::Prewritten(
      Json::object({{"operation", std::string(operation)}, {"arguments", std::move(arguments)}}));
}

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

void one_message(std::string_view text, bool handshake) {
  quorvi::mcp::Session session;
  if (handshake) {
    session.respond(Json::object({{"jsonrpc", "2.0"},
                                  {"id", 0},
                                  {"method", "initialize"},
                                  {"params",
                                   {{"protocolVersion", "2025-11-25"},
                                    {"capabilities", Json::object()},
                                    {"clientInfo", Json::object()}}}}),
                    stub);
    session.respond(Json::object({{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}}),
                    stub);
  }
  std::optional<Json> message = quorvi::mcp::parse(text);
  if (!message) return;
  bool request = message->is_object() && message->contains("id");
  quorvi::mcp::Reply reply = session.respond(std::move(*message), stub);
  std::optional<Json>& response = reply.response;
  if (request) FUZZ_CHECK(response.has_value());
  if (response) check_response(*response);
  if (reply.notification) FUZZ_CHECK(response && is_acknowledgement(*reply.notification));
}

void stream(std::string_view bytes) {
  quorvi::Fd input = memory_file(bytes);
  quorvi::Fd output = memory_file("");
  auto outcome = quorvi::mcp::serve(input.get(), output.get(), stub);
  FUZZ_CHECK(!quorvi::failed(outcome));
  std::string written = read_back(output.get());
  size_t lines_in = 0;
  for (size_t at = 0; at < bytes.size(); ++lines_in) {
    size_t feed = bytes.find('\n', at);
    at = feed == std::string_view::npos ? bytes.size() : feed + 1;
  }
  size_t responses = 0;
  for (size_t at = 0; at < written.size();) {
    size_t feed = written.find('\n', at);
    FUZZ_CHECK(feed != std::string::npos);  // every answer ends with its line feed
    std::optional<Json> line = quorvi::mcp::parse(std::string_view(written).substr(at, feed - at));
    FUZZ_CHECK(line.has_value());
    if (is_acknowledgement(*line)) {
      FUZZ_CHECK(!line->contains("id"));
    } else {
      check_response(*line);
      ++responses;
    }
    at = feed + 1;
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
