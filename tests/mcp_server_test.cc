// `quorvi mcp-server` as a process: hostile input with its memory limited, many calls to the
// stand-in app with its descriptors limited, and the ends of its standard streams. The protocol
// rows are unit tests (src/cli/mcp/session_test.cc, serve_test.cc); a whole session with a real
// client is tests/mcp-interop/sdk.test.js.
#include <gtest/gtest.h>

#include <algorithm>
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
const std::string kHandshake =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18",)"
    R"("capabilities":{},"clientInfo":{"name":"e2e"}}})"
    "\n{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n";

// The server on `input`, after the shell commands `limits`, with 32 MiB of address space:
// several times what it needs, so that any input held whole instead of streamed kills it.
// Sanitizers reserve far more, so they go without.
Result serve(const std::string& dir, const std::string& input, const std::string& limits = "") {
  std::string memory = kSanitized ? "" : "ulimit -v 32768; ";
  return shell(memory + limits + "exec \"$0\" mcp-server", {}, {{"QUORVI_BRIDGE_DIR", dir}}, input);
}

// A JSON array of 340,000 copies of `item`: about a megabyte of text, many times that as a tree.
std::string many(const std::string& item) {
  std::string list = "[";
  for (int i = 0; i < 340000; ++i)
    list += (i ? "," : "") + item;
  return list + "]";
}

// Lines far over the limit, with and without a last line feed: each is answered on its own and
// the session goes on, in bounded memory.
TEST(McpServer, HostileInputInBoundedMemory) {
  std::string input = std::string(48u << 20, '{') + "\n";
  for (int i = 0; i < 4; ++i)
    input += std::string(4u << 20, '{') + "\n";
  Result result = serve("/nonexistent", input + kPing + std::string(3u << 20, '['));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kTooLong + kTooLong + kTooLong + kTooLong + kTooLong + kPong + kTooLong);
}

// With room for eight descriptors, a single one kept per call would fail the calls after the
// fifth; none does.
TEST(McpServer, ManyCallsKeepNothingOpen) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  std::string input = kHandshake;
  for (int i = 1; i <= 200; ++i)
    input += R"({"jsonrpc":"2.0","id":)" + std::to_string(i) +
             R"(,"method":"tools/call","params":{"name":"quorvi_tags","arguments":{}}})" + "\n";
  Result result = serve(app.dir(), input, "ulimit -n 8; ");
  EXPECT_EQ(result.status, 0);
  // The handshake's answer, then one for each call, none of them a failure.
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 201);
  EXPECT_EQ(result.out.find(R"("isError":true)"), std::string::npos) << result.out.substr(0, 1000);
}

// Values of many small members, freed under the address-space limit: the library's own
// destructor would allocate a work stack as large as each container, and a failure there would
// end the process (status 134) with the request unanswered: a tool call whose _meta holds
// 340,000 arrays, and request arguments of 340,000 arrays inside one more (with too little
// memory for their tree, not sent). With too little memory for the tree of a call, its id is
// still answered (-32603 "Internal error"), since it is read before the tree is built.
TEST(McpServer, LargeValuesFreedUnderTheMemoryLimit) {
  if (kSanitized) GTEST_SKIP() << "no address-space limit under the sanitizers";
  TempDir temp;
  StandinApp app(temp / "Automation");
  write_file(temp / "arguments", R"({"id":"note-1","pad":[)" + many("[]") + "]}");
  Result call =
      serve(app.dir(), kHandshake +
                           R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":)"
                           R"("quorvi_create","arguments":{"text":"Kept"},"_meta":{"x":)" +
                           many("[]") + "}}}\n" + kPing);
  EXPECT_EQ(call.status, 0) << call.err;
  EXPECT_TRUE(call.out.ends_with(kPong)) << call.out.substr(0, 300);
  // Room for the tree of the arguments, none for freeing it the library's way; then too little.
  Result read = shell("ulimit -v 27648; exec \"$0\" request read \"$1\"",
                      {"@" + temp / "arguments"}, {{"QUORVI_BRIDGE_DIR", app.dir()}});
  Result unsent =
      shell("ulimit -v 12288; exec \"$0\" request read \"$1\"", {"@" + temp / "arguments"});
  EXPECT_NE(read.out.find(R"("text":"Kept")"), std::string::npos) << read.out << read.err;
  EXPECT_EQ(unsent.err, "Not enough memory for the connector request\n");
  Result unparsed = serve("",
                          R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"_meta":)" +
                              many("{}") + "}}\n" + kPing,
                          "ulimit -v 16384; ");
  EXPECT_EQ(unparsed.out,
            R"({"error":{"code":-32603,"message":"Internal error"},"id":2,"jsonrpc":"2.0"})" +
                ("\n" + kPong));
}

TEST(McpServer, EndsOfTheStandardStreams) {
  // No standard input at all is an ordinary end.
  Result no_input = shell("exec \"$0\" mcp-server <&-");
  EXPECT_EQ(no_input.status, 0);
  EXPECT_EQ(no_input.out + no_input.err, "");
  // An answer that cannot be written ends the session as a failure.
  Result closed = run({.args = {"mcp-server"}, .input = kPing, .close_stdout = true});
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.err, "MCP transport closed\n");
}

}  // namespace
}  // namespace quorvi::test
