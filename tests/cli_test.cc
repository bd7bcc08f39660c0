// The command line as a user meets it: what quorvi prints, where, with which exit status, and
// what the opener received. The URL rows themselves are unit tests (src/main/url_test.cc).
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "e2e.h"
#include "row_name.h"
#include "standin.h"

namespace quorvi::test {
namespace {

constexpr char kUsage[] = "Usage: quorvi mcp-server | quorvi request OPERATION JSON_OBJECT\n";
constexpr char kBadScope[] = "Invalid QUORVI_ONLY_TAGS\n";
constexpr char kBadExclusion[] = "Invalid QUORVI_EXCLUDE_TAGS\n";
constexpr char kNotOpened[] = "Could not open Quorvi\n";
constexpr char kNoToken[] = "Set QUORVI_API_TOKEN from Quorvi Settings \xE2\x86\x92 Automation\n";
constexpr char kHelpStart[] =
    "Quorvi native CLI\nUsage: quorvi [--callback URL] "
    "new|search|open|append|prepend|replace|trash|archive|pin|notes|tags|scratchpad [arguments]\n"
    "quorvi scratchpad [CALCULATION] opens";

// Exit status, the first bytes of standard output, standard error, and the URL the opener
// received ("" when it never ran). The test opener fails whenever quorvi passes it an ignored
// broken-pipe signal, so every row that opens also checks that.
struct Line {
  Env env;
  std::vector<std::string> args;
  int status;
  std::string out, err, opened;
} const kLines[] = {
    {{{"QUORVI_API_TOKEN", "t"}}, {"pin", "A"}, 0, "", "", "pin?id=A&token=t"},
    {{{"QUORVI_API_TOKEN", "\xC3"}}, {"pin", "A"}, 1, "", kNoToken, ""},
    {{{"QUORVI_TEST_OPENER_STATUS", "3"}}, {"new", "x"}, 1, "", kNotOpened, "create?text=x"},
    {{{"QUORVI_TEST_OPENER_STATUS", "signal"}}, {"new", "x"}, 1, "", kNotOpened, "create?text=x"},
    {{}, {"new", "-h"}, 0, kHelpStart, "", ""},
    {{}, {"help", "all"}, 0, "Native connector operations (quorvi request OPERATION", "", ""},
    {{}, {"help", "ALL"}, 1, "", kUsage, ""},
    {{}, {"request", "op"}, 1, "", kUsage, ""},
    {{}, {"mcp-server", "--help"}, 1, "", kUsage, ""},
    {{}, {"new", "\xFF"}, 1, "", "Arguments must be valid UTF-8\n", ""},
    {{}, {"--version"}, 0, "quorvi 0.11.0\n", "", ""},
    {{}, {"--version", "new"}, 1, "", "Unknown command: --version\n", ""},
    // A fixed connector directory that is not there: no launch; scopes that cannot be read.
    {{}, {"request", "tags", "{}"}, 1, "", kOff, ""},
    {{{"QUORVI_ONLY_TAGS", "work,\xFF"}}, {"request", "tags", "{}"}, 1, "", kBadScope, ""},
    {{{"QUORVI_EXCLUDE_TAGS", "\xFF"}}, {"request", "tags", "{}"}, 1, "", kBadExclusion, ""},
};

void PrintTo(const Line& line, std::ostream* out) {
  *out << testing::PrintToString(line.args);
}

class CliLine : public testing::TestWithParam<Line> {};

TEST_P(CliLine, PrintsAndOpens) {
  const Line& line = GetParam();
  TempDir dir;
  Env env = line.env;
  env.insert(env.end(),
             {{"QUORVI_TEST_OPENER_LOG", dir / "opened"}, {"QUORVI_BRIDGE_DIR", dir / "none"}});
  Result result = run({.args = line.args, .env = env});
  EXPECT_EQ(result.status, line.status);
  // The first bytes of a long text, or all of a short or missing one.
  EXPECT_EQ(line.out.empty() ? result.out : result.out.substr(0, line.out.size()), line.out);
  EXPECT_EQ(result.err, line.err);
  EXPECT_EQ(read_file(dir / "opened"),
            line.opened.empty() ? "" : "quorvi://x-callback-url/" + line.opened + "\n");
}

INSTANTIATE_TEST_SUITE_P(Cli, CliLine, testing::ValuesIn(kLines), row_name<Line>);

// The shipped executable runs /usr/bin/open as given and never searches PATH: an "open" first
// in PATH is never run. Where /usr/bin/open is missing, as on Linux, the URL cannot be opened.
TEST(Cli, ShippedExecutableRunsOnlyUsrBinOpen) {
  TempDir bin;
  write_file(bin / "open", "#!/bin/sh\ntouch '" + bin / "ran" + "'\n", 0700);
  Result result =
      run({.args = {"new", "x"}, .env = {{"PATH", bin.path()}}, .program = shipped_exe()});
  EXPECT_FALSE(std::filesystem::exists(bin / "ran"));
  if (!std::filesystem::exists("/usr/bin/open")) {
    EXPECT_EQ(result.err, kNotOpened);
  }
}

// Output that cannot be written is a failure with its own message, never a signal: a full
// device, a pipe whose reader is gone, and no descriptor 1 at all (which a socket must not take).
TEST(Cli, StandardOutputThatCannotBeWritten) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  Env env{{"QUORVI_BRIDGE_DIR", app.dir()}};
  const std::pair<const char*, Result> rows[] = {
      {"a full device", shell("exec \"$0\" --help >/dev/full", {}, env)},
      {"no descriptor 1", shell("exec \"$0\" request tags {} >&-", {}, env)},
      {"a reader gone", run({.args = {"request", "tags", "{}"}, .env = env, .close_stdout = true})},
  };
  for (const auto& [name, result] : rows) {
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_EQ(result.err, "Could not write to standard output\n") << name;
  }
}

}  // namespace
}  // namespace quorvi::test
