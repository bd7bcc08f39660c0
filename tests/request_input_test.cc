// Arguments of `request` read from standard input and files.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

constexpr size_t kLimit = 1 << 20;

TEST(RequestInput, AttachesA700KBFileThroughAPathAndStandardInput) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_EQ(request(app.dir(), "create", R"({"text":"Files"})").status, 0);
  std::string data(233334 * 4, 'A');  // 700,002 zero bytes once decoded
  std::string object = R"({"data":")" + data + R"(","id":"note-1","name":"a.bin"})";
  write_file(temp / "attach.json", object + "\n");
  for (auto [word, input] : {std::pair{"@" + temp / "attach.json", std::string()}, {"-", object}}) {
    Result attached = run({.args = {"request", "attach", word},
                           .env = {{"QUORVI_BRIDGE_DIR", app.dir()}},
                           .input = input});
    EXPECT_NE(attached.out.find(R"("name":"a.bin","size":700002})"), std::string::npos)
        << word << attached.err;
  }
}

TEST(RequestInput, ReadsNoMoreThanTheLimitAllowsPlusOneByte) {
  // quorvi and then wc share one pipe, so wc counts exactly what quorvi left unread.
  for (std::string word : {"-", "@/dev/stdin"}) {
    Result result =
        shell("head -c 2097152 /dev/zero | tr '\\0' ' ' | { \"$0\" request attach \"$1\"; wc -c; }",
              {word}, {{"QUORVI_BRIDGE_DIR", "/nonexistent"}});
    EXPECT_EQ(result.err, "Request exceeds the 1 MB connector limit\n") << word;
    EXPECT_EQ(result.out, std::to_string(kLimit - 1) + "\n") << word;
  }
}

TEST(RequestInput, NamesTheInputThatCouldNotBeUsed) {
  TempDir temp;
  write_file(temp / "latin1.json", "{\"a\":\"\xE9\"}");
  const std::pair<std::string, std::string> rows[] = {
      {"@" + temp / "none", "No such file: " + temp / "none\n"},
      {"@" + temp.path(), "Not a regular file or pipe: " + temp.path() + "\n"},
      {"-", "Could not read standard input\n"},  // started without a descriptor 0
      {"@" + temp / "latin1.json", "Arguments must be valid UTF-8\n"},
  };
  for (const auto& [word, err] : rows) {
    Result result = run({.args = {"request", "search", word},
                         .env = {{"QUORVI_BRIDGE_DIR", temp / "none"}},
                         .close_stdin = word == "-"});
    EXPECT_EQ(result.status, 1) << word;
    EXPECT_EQ(result.out + result.err, err) << word;
  }
}

// A terminal handed over in non-blocking mode, whose input comes late: it is waited for, without
// failing and without spinning (macOS's poll does not support terminals; there select waits).
TEST(RequestInput, WaitsForANonBlockingTerminal) {
  const std::string ping = R"({"jsonrpc":"2.0","id":"p","method":"ping"})";
  const std::tuple<std::vector<std::string>, std::string, std::string> rows[] = {
      {{"request", "search", "-"},
       R"({"query":"x"})",
       "Open Quorvi and enable Desktop connector in Settings\n"},
      {{"mcp-server"},
       ping,
       R"({"id":"p","jsonrpc":"2.0","result":{}})"
       "\n"}};
  for (const auto& [args, input, output] : rows) {
    Result result = run({.args = args,
                         .env = {{"QUORVI_BRIDGE_DIR", "/nonexistent"}},
                         .input = input + "\n",
                         .terminal_input = true,
                         .late_input_ms = 500});
    EXPECT_EQ(result.out + result.err, output) << args[0];
    EXPECT_GE(result.elapsed_ms, 500) << args[0];
    EXPECT_LT(result.cpu_ms, 200) << args[0];
  }
}

}  // namespace
}  // namespace quorvi::test
