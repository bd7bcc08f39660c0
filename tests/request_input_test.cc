// Arguments of `request` read from standard input and files: what the user is told when they
// cannot be used, and a terminal whose input comes late. The reading itself is unit tests
// (src/platform/input_test.cc, wait_test.cc).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

// What the user is told when the arguments cannot be used: the word itself, standard input ("-",
// with no descriptor 0 where a row gives no text) or a file ("@PATH") must hold one JSON object
// in at most 1 MiB.
TEST(RequestInput, NamesTheInputThatCouldNotBeUsed) {
  TempDir temp;
  const std::string fits = "{}" + std::string((1u << 20) - 2, ' '), over = fits + " ";
  const std::string kNotObject = "Arguments must be a JSON object\n",
                    kTooLarge = "Request exceeds the 1 MB connector limit\n";
  write_file(temp / "latin1.json", "{\"a\":\"\xE9\"}");
  write_file(temp / "string.json", "\"a\"");
  write_file(temp / "over.json", over);
  const std::tuple<std::string, std::optional<std::string>, std::string> rows[] = {
      {"@" + temp / "none", {}, "No such file: " + temp / "none\n"},
      {"@" + temp.path(), {}, "Not a regular file or pipe: " + temp.path() + "\n"},
      {"-", {}, "Could not read standard input\n"},
      {"@" + temp / "latin1.json", {}, "Arguments must be valid UTF-8\n"},
      {"[]", {}, kNotObject},
      {"-", "7", kNotObject},
      {"@" + temp / "string.json", {}, kNotObject},
      {"-", fits, kOff},  // sent
      {"-", over, kTooLarge},
      {"@" + temp / "over.json", {}, kTooLarge},
  };
  for (const auto& [word, input, err] : rows) {
    Result result = shell(std::string("exec \"$0\" request search \"$1\"") + (input ? "" : " <&-"),
                          {word}, {{"QUORVI_BRIDGE_DIR", temp / "none"}}, input.value_or(""));
    SCOPED_TRACE(word + " " + input.value_or("").substr(0, 8));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out + result.err, err);
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
