// The command line as a user meets it: what quorvi prints, where, with which exit status, and
// what the opener received. The URL rows themselves are unit tests (src/main/url_test.cc).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

constexpr char kUsage[] = "Usage: quorvi mcp-server | quorvi request OPERATION JSON_OBJECT\n";
constexpr char kNoToken[] = "Set QUORVI_API_TOKEN from Quorvi Settings \xE2\x86\x92 Automation\n";
constexpr char kStdoutFailed[] = "Could not write to standard output\n";
constexpr char kBase[] = "quorvi://x-callback-url/";

// One run of quorvi-test with the opener's records in `dir` and no connector to reach.
Result run_in(const TempDir& dir, std::vector<std::string> args, Env env = {}) {
  env.insert(env.end(), {{"QUORVI_TEST_OPENER_LOG", dir / "opened"},
                         {"QUORVI_TEST_OPENER_SIGPIPE_LOG", dir / "sigpipe"},
                         {"QUORVI_BRIDGE_DIR", dir / "none"}});
  return run({.args = std::move(args), .env = std::move(env), .timeout_ms = 20000});
}

std::string words(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& word : args)
    line += "[" + word + "]";
  return line;
}

// Every line: exit status, standard output (or its first bytes), standard error, and the one
// URL the opener received ("" when it never ran).
TEST(Cli, WhatEachLinePrintsAndOpens) {
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string out, err, opened;
  } rows[] = {
      {{"new"}, 0, "", "", "create?text=%23%20"},
      {{"--undo", "pin", "A"}, 0, "", "", "pin?id=A&value=false&token=tok"},
      {{"open", "A", "--callback", "done:1"}, 0, "", "", "open-note?x-success=done%3A1&id=A"},
      {{"tags", "x"}, 1, "", "Unexpected extra arguments\n", ""},
      {{"new", "-h"}, 0, "Quorvi native CLI\nUsage: quorvi [--callback URL] new|", "", ""},
      {{"help", "all"},
       0,
       "Native connector operations (quorvi request OPERATION JSON_OBJECT):\n[\n  {\n",
       "",
       ""},
      {{"help", "ALL"}, 1, "", kUsage, ""},
      {{"request", "op"}, 1, "", kUsage, ""},
      {{"mcp-server", "--help"}, 1, "", kUsage, ""},
      {{"request", "search", "[]"}, 1, "", "Arguments must be a JSON object\n", ""},
      {{"request", "search", "{"}, 1, "", "Arguments must be a JSON object\n", ""},
      {{"new", "\xFF"}, 1, "", "Arguments must be valid UTF-8\n", ""},
      {{"--help", "\xC0\x80"}, 1, "", "Arguments must be valid UTF-8\n", ""},
      {{"request", "op\xFF", "{}"}, 1, "", "Arguments must be valid UTF-8\n", ""},
  };
  for (const Row& row : rows) {
    TempDir dir;
    Result result = run_in(dir, row.args, {{"QUORVI_API_TOKEN", "tok"}});
    EXPECT_EQ(result.status, row.status) << words(row.args);
    EXPECT_TRUE(result.out.starts_with(row.out)) << words(row.args) << result.out.substr(0, 200);
    EXPECT_EQ(result.out.empty(), row.out.empty()) << words(row.args);
    EXPECT_EQ(result.err, row.err) << words(row.args);
    EXPECT_EQ(read_file(dir / "opened"), row.opened.empty() ? "" : kBase + row.opened + "\n")
        << words(row.args);
  }
}

TEST(Cli, TokenMustBeSetAndUtf8) {
  for (std::optional<std::string> token : {std::optional<std::string>(), {""}, {"\xC3"}}) {
    TempDir dir;
    Result result = run_in(dir, {"pin", "A"}, {{"QUORVI_API_TOKEN", token}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, kNoToken);
    EXPECT_EQ(read_file(dir / "opened"), "");
  }
}

TEST(Cli, OpenerFailureIsReported) {
  for (const char* status : {"3", "signal"}) {
    TempDir dir;
    Result result = run_in(dir, {"new", "x"}, {{"QUORVI_TEST_OPENER_STATUS", status}});
    EXPECT_EQ(result.status, 1) << status;
    EXPECT_EQ(result.err, "Could not open Quorvi\n") << status;
    EXPECT_EQ(read_file(dir / "opened"), std::string(kBase) + "create?text=x\n") << status;
  }
}

// quorvi ignores the broken-pipe signal; the opener must not inherit that.
TEST(Cli, OpenerStartsWithDefaultBrokenPipeAction) {
  TempDir dir;
  EXPECT_EQ(run_in(dir, {"new"}).status, 0);
  EXPECT_EQ(read_file(dir / "sigpipe"), "default\n");
}

// The shipped executable runs /usr/bin/open as given and never searches PATH: an "open" first
// in PATH is never run. Where /usr/bin/open is missing, as on Linux, the URL cannot be opened.
TEST(Cli, ShippedExecutableRunsOnlyUsrBinOpen) {
  TempDir bin;
  write_file(bin / "open", "#!/bin/sh\ntouch '" + bin / "ran" + "'\n", 0700);
  Result result =
      run({.args = {"new", "x"}, .env = {{"PATH", bin.path()}}, .program = shipped_exe()});
  EXPECT_FALSE(std::filesystem::exists(bin / "ran"));
  struct stat info {};
  if (::stat("/usr/bin/open", &info) != 0) {
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Could not open Quorvi\n");
  }
}

// Output that cannot be written is a failure with its own message, never a signal.
TEST(Cli, StandardOutputThatCannotBeWritten) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"request", "tags", "{}"}}) {
    Command full{
        .args = args, .env = {{"QUORVI_BRIDGE_DIR", app.dir()}}, .stdout_path = "/dev/full"};
    Command closed_pipe{.args = args, .env = full.env, .close_stdout = true};
    // The shell closes descriptor 1 and replaces itself with quorvi.
    std::vector<std::string> shell{"-c", "exec \"$0\" \"$@\" >&-", quorvi_exe()};
    shell.insert(shell.end(), args.begin(), args.end());
    Command closed{.args = shell, .env = full.env, .program = "/bin/sh"};
    for (const Command& command : {full, closed_pipe, closed}) {
      Result result = run(command);
      EXPECT_EQ(result.status, 1) << words(command.args);
      EXPECT_EQ(result.err, kStdoutFailed) << words(command.args);
    }
  }
}

}  // namespace
}  // namespace quorvi::test
