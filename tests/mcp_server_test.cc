// `quorvi mcp-server` as a process: hostile input with its memory limited, many calls to the
// stand-in app with its descriptors limited, and the ends of its standard streams. The protocol
// rows are unit tests (src/cli/mcp/session_test.cc, serve_test.cc); a whole session with a real
// client is tests/mcp-interop/sdk.test.js.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

const std::string kHandshake =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18",)"
    R"("capabilities":{},"clientInfo":{"name":"e2e"}}})"
    "\n"
    R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
    "\n";
const std::string kPing = R"({"jsonrpc":"2.0","id":"p","method":"ping"})"
                          "\n";
const std::string kPong = R"({"id":"p","jsonrpc":"2.0","result":{}})";
const std::string kTooLong =
    R"({"error":{"code":-32600,"message":"Request exceeds 1 MB"},"id":null,"jsonrpc":"2.0"})";

std::string call(int id, const std::string& tool, const std::string& arguments) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":")" + tool + R"(","arguments":)" + arguments +
         "}}\n";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// 32 MiB of address space is several times what the server needs; any input held whole instead
// of streamed exceeds it and the server dies. Sanitizers reserve far more, so they go without.
Command server(const std::string& dir, std::string input) {
  return {.args = {"mcp-server"},
          .env = {{"QUORVI_BRIDGE_DIR", dir}},
          .input = std::move(input),
          .memory_limit_mib = kSanitized ? 0 : 32};
}

// Lines far over the limit, with and without a last line feed, and binary garbage: each is
// answered on its own and the session goes on, in bounded memory.
TEST(McpServer, HostileInputInBoundedMemory) {
  TempDir temp;
  std::string input = std::string(48u << 20, '{') + "\n";
  for (int i = 0; i < 4; ++i)
    input += std::string(4u << 20, '{') + "\n";
  uint64_t state = 0x9E3779B97F4A7C15u;
  std::string garbage;
  for (size_t i = 0; i < (1u << 20); ++i) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    garbage.push_back(static_cast<char>(state >> 56));
  }
  input += garbage + "\n" + kPing + std::string(3u << 20, '[');
  Result result = run(server(temp / "none", input));
  EXPECT_EQ(result.status, 0) << result.err;
  auto lines = lines_of(result.out);
  size_t garbage_lines = 1;
  for (char c : garbage)
    garbage_lines += c == '\n';
  ASSERT_EQ(lines.size(), 5 + garbage_lines + 2);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(lines[i], kTooLong);
  EXPECT_EQ(lines[lines.size() - 2], kPong);
  EXPECT_EQ(lines.back(), kTooLong);
}

// With room for eight descriptors, a single one kept per call would fail the calls after the
// fifth; none does.
TEST(McpServer, ManyCallsKeepNothingOpen) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  std::string input = kHandshake;
  for (int i = 1; i <= 200; ++i)
    input += call(i, "quorvi_tags", "{}");
  Command command = server(app.dir(), input);
  command.file_limit = 8;
  Result result = run(command);
  EXPECT_EQ(result.status, 0);
  auto lines = lines_of(result.out);
  ASSERT_EQ(lines.size(), 201u);
  for (size_t i = 1; i < lines.size(); ++i)
    ASSERT_NE(lines[i].find(R"("isError":false)"), std::string::npos) << lines[i];
}

TEST(McpServer, EndsOfTheStandardStreams) {
  // No standard input at all is an ordinary end.
  Result no_input = run({.args = {"mcp-server"}, .close_stdin = true, .timeout_ms = 10000});
  EXPECT_EQ(no_input.status, 0);
  EXPECT_EQ(no_input.out + no_input.err, "");
  // An answer that cannot be written ends the session as a failure.
  Result closed = run({.args = {"mcp-server"}, .input = kPing, .close_stdout = true});
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.err, "MCP transport closed\n");
}

}  // namespace
}  // namespace quorvi::test
