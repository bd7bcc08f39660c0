// Arguments of `request` read from standard input and files, `--version`, and the stand-in app
// as a development server: its help, its ready line and its refusal of a second instance.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
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

TEST(Version, IsTheOnlyWordOnTheLine) {
  Result result = run({.args = {"--version"}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "quorvi 0.11.0\n");
  EXPECT_EQ(run({.args = {"--version", "new"}}).err, "Unknown command: --version\n");
}

TEST(StandinAppServer, HelpsSaysWhenReadyAndRefusesASecondInstance) {
  TempDir temp;
  std::string dir = temp / "Automation", file = dir + "/connection.json";
  Command standin{.args = {dir, "--pid-file", temp / "pid"}, .program = standin_app_exe()};
  Result help = run({.args = {"--help"}, .program = standin_app_exe()}), first;
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: quorvi-standin-app DIR", 0), 0u) << help.out;
  std::thread serving([&] { first = run(standin); });
  wait_until([&] { return std::filesystem::exists(file); }, 10000);
  std::string published = read_file(file), pid = read_file(temp / "pid");
  Result second = run(standin);
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "quorvi-standin-app: another stand-in app already serves " + dir + "\n");
  EXPECT_EQ(read_file(file) + read_file(temp / "pid"), published + pid);

  // On exit the first removes only what it made and still finds in place.
  write_file(temp / "other.json", "{}");
  std::filesystem::rename(temp / "other.json", file);
  ::kill(std::stoi(pid), SIGTERM);
  serving.join();
  EXPECT_EQ(first.status, 0);
  EXPECT_TRUE(std::regex_match(first.err, std::regex("quorvi-standin-app: listening on " + dir +
                                                     "/q-[A-Za-z0-9]+\\.sock\n")))
      << first.err;
  EXPECT_EQ(read_file(file), "{}");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

// A stand-in whose directory was removed under it, and which a second stand-in then took over,
// leaves the second one's files alone when it stops, though a new file may reuse the inode
// number of a removed one. Only a file system that reuses a freed inode at once shows the fault
// (ext4 with a journal here does not).
TEST(StandinAppServer, StoppingLeavesASuccessorsFilesInPlace) {
  TempDir temp;
  std::string dir = temp / "Automation";
  for (int round = 0; round < 3; ++round) {
    auto first = std::make_unique<StandinApp>(dir);
    ASSERT_TRUE(first->ready());
    std::filesystem::remove_all(dir);
    StandinApp second(dir);
    ASSERT_TRUE(second.ready());
    first.reset();
    EXPECT_TRUE(std::filesystem::exists(dir + "/connection.json")) << "round " << round;
    EXPECT_EQ(request(dir).status, 0) << "round " << round;
  }
}

}  // namespace
}  // namespace quorvi::test
