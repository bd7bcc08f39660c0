// Arguments of `request` read from standard input and files: what the user is told when they
// cannot be used, and a terminal whose input comes late. The reading itself is unit tests
// (src/platform/input_test.cc, wait_test.cc).
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

// Started without a descriptor 0.
TEST(RequestInput, NamesTheInputThatCouldNotBeUsed) {
  TempDir temp;
  write_file(temp / "latin1.json", "{\"a\":\"\xE9\"}");
  const std::pair<std::string, std::string> rows[] = {
      {"@" + temp / "none", "No such file: " + temp / "none\n"},
      {"@" + temp.path(), "Not a regular file or pipe: " + temp.path() + "\n"},
      {"-", "Could not read standard input\n"},
      {"@" + temp / "latin1.json", "Arguments must be valid UTF-8\n"},
  };
  for (const auto& [word, err] : rows) {
    Result result = shell("exec \"$0\" request search \"$1\" <&-", {word},
                          {{"QUORVI_BRIDGE_DIR", temp / "none"}});
    EXPECT_EQ(result.status, 1) << word;
    EXPECT_EQ(result.out + result.err, err) << word;
  }
}

// A terminal handed over in non-blocking mode, whose input comes late: it is waited for, without
// failing and without spinning (macOS's poll does not support terminals; there select waits).
// The input comes once quorvi sleeps; one that spins instead gets it after two seconds, and uses
// a share of them even on a busy machine.
TEST(RequestInput, WaitsForANonBlockingTerminal) {
  const std::string ping = R"({"jsonrpc":"2.0","id":"p","method":"ping"})",
                    pong = R"({"id":"p","jsonrpc":"2.0","result":{}})";
  const std::tuple<std::vector<std::string>, std::string, std::string> rows[] = {
      {{"request", "search", "-"}, R"({"query":"x"})", kOff}, {{"mcp-server"}, ping, pong + "\n"}};
  for (const auto& [args, input, output] : rows) {
    Result result = run({.args = args,
                         .env = {{"QUORVI_BRIDGE_DIR", "/nonexistent"}},
                         .input = input + "\n",
                         .terminal_input_ms = 2000});
    EXPECT_EQ(result.out + result.err, output) << args[0];
    EXPECT_LT(result.cpu_ms, 200) << args[0];
  }
}

}  // namespace
}  // namespace quorvi::test
