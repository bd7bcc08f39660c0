// `quorvi mcp-server` as a process: hostile input with its memory limited, many calls to the
// stand-in app with its descriptors limited, and the ends of its standard streams. The protocol
// rows are unit tests (src/cli/mcp/session_test.cc, serve_test.cc); a whole session with a real
// client is tests/mcp-interop/sdk.test.js.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

const std::string kPing = "{\"jsonrpc\":\"2.0\",\"id\":\"p\",\"method\":\"ping\"}\n";
const std::string kPong = R"({"id":"p","jsonrpc":"2.0","result":{}})"
                          "\n";
const std::string kTooLong =
    R"({"error":{"code":-32600,"message":"Request exceeds 1 MB"},"id":null,"jsonrpc":"2.0"})"
    "\n";

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
  std::string input = std::string(48u << 20, '{') + "\n", garbage;
  for (int i = 0; i < 4; ++i)
    input += std::string(4u << 20, '{') + "\n";
  for (uint64_t state = 0x9E3779B97F4A7C15u; garbage.size() < (1u << 20);) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    garbage.push_back(static_cast<char>(state >> 56));
  }
  input += garbage + "\n" + kPing + std::string(3u << 20, '[');
  Result result = run(server("/nonexistent", input));
  EXPECT_EQ(result.status, 0) << result.err;
  for (size_t i = 0; i < 5; ++i)
    EXPECT_EQ(result.out.substr(i * kTooLong.size(), kTooLong.size()), kTooLong);
  const std::string last = kPong + kTooLong;
  EXPECT_EQ(result.out.substr(result.out.size() - std::min(result.out.size(), last.size())), last);
  // One answer for each line of garbage, and one for its last piece.
  size_t lines = std::count(garbage.begin(), garbage.end(), '\n') + 1;
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 5 + lines + 2);
}

// With room for eight descriptors, a single one kept per call would fail the calls after the
// fifth; none does.
TEST(McpServer, ManyCallsKeepNothingOpen) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  std::string input =
      R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18",)"
      R"("capabilities":{},"clientInfo":{"name":"e2e"}}})"
      "\n{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n";
  for (int i = 1; i <= 200; ++i)
    input += R"({"jsonrpc":"2.0","id":)" + std::to_string(i) +
             R"(,"method":"tools/call","params":{"name":"quorvi_tags","arguments":{}}})" + "\n";
  Command command = server(app.dir(), input);
  command.file_limit = 8;
  Result result = run(command);
  EXPECT_EQ(result.status, 0);
  size_t answered = 0;
  for (size_t at = 0; (at = result.out.find(R"("isError":false)", at)) != std::string::npos; ++at)
    ++answered;
  EXPECT_EQ(answered, 200u) << result.out.substr(0, 1000);
}

// Values of many small members, freed under the address-space limit: the library's own
// destructor would allocate a work stack as large as each container, and a failure there would
// end the process (status 134) with the request unanswered. Each gets an answer or a message.
TEST(McpServer, LargeValuesFreedUnderTheMemoryLimit) {
  if (kSanitized) GTEST_SKIP() << "no address-space limit under the sanitizers";
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  auto many = [](const std::string& item) {
    std::string list = "[";
    for (int i = 0; i < 340000; ++i)
      list += (i ? "," : "") + item;
    return list + "]";
  };
  const std::string handshake =
      R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18",)"
      R"("capabilities":{},"clientInfo":{"name":"e2e"}}})"
      "\n{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n";
  write_file(temp / "arguments", R"({"id":"note-1","pad":[)" + many("[]") + "]}");
  struct Row {
    const char* name;
    Command command;
    int status;
    std::string wanted;  // in the output, or the message
  };
  const Row rows[] = {
      {"ping with 340,000 strings",
       server(app.dir(), R"({"jsonrpc":"2.0","id":"p","method":"ping","params":{"x":)" +
                             many(R"("")") + "}}\n" + kPing),
       0, kPong},
      {"a tool call whose _meta holds 340,000 arrays",
       server(app.dir(), handshake +
                             R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":)"
                             R"("quorvi_create","arguments":{"text":"Kept"},"_meta":{"x":)" +
                             many("[]") + "}}}\n" + kPing),
       0, R"("isError":false)"},
      {"request arguments of 340,000 arrays inside one more",
       {.args = {"request", "read", "@" + (temp / "arguments")},
        .env = {{"QUORVI_BRIDGE_DIR", app.dir()}},
        .memory_limit_mib = 27},  // room for the tree, none for freeing it the library's way
       0,
       R"("text":"Kept")"},
  };
  for (const Row& row : rows) {
    Result result = run(row.command);
    EXPECT_EQ(result.status, row.status) << row.name << ": " << result.err;
    EXPECT_NE((result.out + result.err).find(row.wanted), std::string::npos)
        << row.name << ": " << result.out.substr(0, 300) << result.err;
  }
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
