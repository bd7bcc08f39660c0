// `quorvi mcp-server` against hostile clients: huge lines, binary garbage, deep nesting, a
// client that stops reading, no standard input. The server answers or ends as documented and
// its peak memory stays small.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "cli/mcp/json.h"
#include "e2e.h"
#include "hostile_child.h"

namespace quorvi::test {
namespace {

constexpr long kMemoryBoundKib = 64 * 1024;

const std::string kInit =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25",)"
    R"("capabilities":{},"clientInfo":{"name":"hostile"}}})"
    "\n";
const std::string kPing = R"({"jsonrpc":"2.0","id":"p","method":"ping"})"
                          "\n";
const std::string kPingAnswer = R"({"id":"p","jsonrpc":"2.0","result":{}})";
const std::string kTooLong =
    R"({"error":{"code":-32600,"message":"Request exceeds 1 MB"},"id":null,"jsonrpc":"2.0"})";
const std::string kParseError =
    R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})";

// No connector is reachable and none is launched: a tool call fails at once.
Env server_env(const TempDir& temp) {
  return clean_env({{"QUORVI_BRIDGE_DIR", temp / "absent"}});
}

// Ends the session by closing the input and checks the exit and the memory bound.
void expect_clean_end(Child& server, const char* what) {
  Exit exit = server.finish(30000);
  EXPECT_EQ(exit.status, 0) << what;
  std::cout << what << ": peak memory " << exit.peak_rss_kib << " KiB\n";
  if (!kSanitized) {
    EXPECT_LT(exit.peak_rss_kib, kMemoryBoundKib) << what;
  }
}

// Built by appending: g++ 12 at -O3 takes a replace() or insert() of a C string into a long
// string for an overlapping copy (a false -Wrestrict).
std::string nested(size_t depth, const std::string& open, const std::string& close,
                   const std::string& inner = "") {
  std::string text;
  for (size_t i = 0; i < depth; ++i)
    text += open;
  text += inner;
  for (size_t i = 0; i < depth; ++i)
    text += close;
  return text;
}

TEST(HostileClientSlow, ThousandLinesOfTwoMebibytes) {
  TempDir temp;
  Child server({"mcp-server"}, server_env(temp), temp / "err");
  // A plausible request whose string member makes the line 2 MiB long.
  std::string line = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":")";
  line += std::string((2u << 20) - line.size() - 4, 'x') + "\"}}\n";
  ASSERT_EQ(line.size(), 2u << 20);
  for (int i = 0; i < 1000; ++i)
    ASSERT_TRUE(server.send(line, 60000)) << "line " << i;
  ASSERT_TRUE(server.send(kPing));
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(server.line(), kTooLong) << "answer " << i;
  EXPECT_EQ(server.line(), kPingAnswer);
  expect_clean_end(server, "1,000 lines of 2 MiB");
}

TEST(HostileClient, BinaryGarbageIsAnsweredLineByLine) {
  TempDir temp;
  Child server({"mcp-server"}, server_env(temp), temp / "err");
  std::string garbage;
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (size_t i = 0; i < (4u << 20); ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    garbage.push_back(static_cast<char>(state >> 56));
  }
  garbage += '\n';
  size_t lines = 0;
  for (char c : garbage)
    lines += c == '\n';
  ASSERT_TRUE(server.send(garbage, 60000));
  ASSERT_TRUE(server.send(kPing));
  for (size_t i = 0; i < lines; ++i) {
    std::optional<std::string> answer = server.line();
    ASSERT_TRUE(answer) << "answer " << i << " of " << lines;
    std::optional<mcp::Json> value = mcp::parse(*answer);
    ASSERT_TRUE(value && value->is_object()) << *answer;
    EXPECT_TRUE((*value)["id"].is_null()) << *answer;
    int code = (*value)["error"]["code"].get<int>();
    EXPECT_TRUE(code == -32700 || code == -32600) << *answer;
  }
  EXPECT_EQ(server.line(), kPingAnswer);
  expect_clean_end(server, "4 MiB of binary garbage");
}

TEST(HostileClient, DeepNestingAndNulBytes) {
  struct Case {
    std::string line;
    std::string answer;
  };
  const std::string ping_with = R"({"jsonrpc":"2.0","id":"p","method":"ping","params":)";
  const Case cases[] = {
      {nested(10000, "[", "]"), kParseError},
      {nested(10000, "{\"a\":", "}", "1"), kParseError},
      {ping_with + nested(126, "[", "]") + "}", kPingAnswer},  // 127 levels with the message
      {ping_with + nested(127, "[", "]") + "}", kParseError},
      // Found by fuzzing: the parser underneath took a NUL byte for the end of the text.
      {std::string(R"({"jsonrpc":"2.0","id":"p","method":"ping"})") + '\0' + "x", kParseError},
      {std::string(R"({"jsonrpc":"2.0","id":"p","method":"ping"})") + '\0', kParseError},
  };
  TempDir temp;
  Child server({"mcp-server"}, server_env(temp), temp / "err");
  for (const Case& c : cases) {
    ASSERT_TRUE(server.send(c.line + "\n"));
    EXPECT_EQ(server.line(), c.answer) << c.line.substr(0, 80);
  }
  ASSERT_TRUE(server.send(kPing));
  EXPECT_EQ(server.line(), kPingAnswer);
  expect_clean_end(server, "deep nesting");
}

TEST(HostileClient, ClientThatStopsReadingEndsTheSession) {
  TempDir temp;
  Child server({"mcp-server"}, server_env(temp), temp / "err");
  ASSERT_TRUE(server.send(kInit));
  ASSERT_TRUE(server.line());
  server.close_output();
  // The answer to this ping cannot be written: the session ends with a transport failure.
  server.send(kPing);
  Exit exit = server.finish(10000);
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(read_file(temp / "err"), "MCP transport closed\n");
}

TEST(HostileClient, NoStandardInput) {
  Command command;
  command.args = {"mcp-server"};
  command.close_stdin = true;
  command.timeout_ms = 10000;
  Result result = run(command);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST(HostileClient, OverlongLastLineWithoutLineFeed) {
  TempDir temp;
  Child server({"mcp-server"}, server_env(temp), temp / "err");
  ASSERT_TRUE(server.send(std::string(3u << 20, '{'), 60000));
  server.close_input();
  EXPECT_EQ(server.line(), kTooLong);
  EXPECT_EQ(server.line(), std::nullopt);
  expect_clean_end(server, "3 MiB without a line feed");
}

}  // namespace
}  // namespace quorvi::test
