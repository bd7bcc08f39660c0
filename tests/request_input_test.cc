// Arguments of `request` read from standard input and files.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace quorvi::test
