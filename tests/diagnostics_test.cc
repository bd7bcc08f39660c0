// What a person sees on standard error: the app's text, which may hold anything, shown on a
// terminal as one harmless line and passed through a pipe as it came; and the trace that
// QUORVI_TRACE=1 asks for. The visible form itself is a unit test (src/base/visible_test.cc).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

using namespace std::string_literals;

// A failure message from the app that would erase itself, forge a second line and retitle the
// terminal, and a result with the controls that JSON leaves as they are: on a terminal both come
// out as one line with every control escaped; through a pipe every byte is the app's.
TEST(Diagnostics, TheAppsTextOnATerminalAndThroughAPipe) {
  const std::tuple<const char*, std::string, std::string, std::string> rows[] = {
      {"failure",
       R"({"error":"Note locked \u001b[31mRED\u001b[0m\nquorvi: fake\r\u001b]0;T\u0007\u0000)"
       R"(\u009b\u007f \u00e9"})",
       "Note locked \x1b[31mRED\x1b[0m\nquorvi: fake\r\x1b]0;T\x07\0\xc2\x9b\x7f \xc3\xa9\n"s,
       "Note locked \\u001b[31mRED\\u001b[0m\\nquorvi: fake\\r\\u001b]0;T\\u0007\\u0000\\u009b"
       "\\u007f \xc3\xa9\n"},
      {"result", R"({"result":{"text":"a\u009bb\u007fc\u001b"}})",
       "{\"text\":\"a\xc2\x9b"
       "b\x7f"
       "c\\u001b\"}\n",
       "{\"text\":\"a\\u009bb\\u007fc\\u001b\"}\n"},
  };
  for (const auto& [what, answer, through_pipe, on_terminal] : rows) {
    TempDir temp;
    write_file(temp / "answer", answer);
    StandinApp app(temp / "Automation", {"--answer", temp / "answer"});
    Command command = {.args = {"request", "read", "{}"},
                       .env = {{"QUORVI_BRIDGE_DIR", app.dir()}}};
    Result piped = run(command);
    command.terminal_output = true;
    Result shown = run(command);
    EXPECT_EQ(piped.out + piped.err, through_pipe) << what;
    EXPECT_EQ(shown.out + shown.err, on_terminal) << what;
  }
  // A name from the command line that a message repeats is not the program's own text either.
  Result named =
      run({.args = {"request", "read", "@/nonexistent/a\x1b]0;T\x07"}, .terminal_output = true});
  EXPECT_EQ(named.err, "No such file: /nonexistent/a\\u001b]0;T\\u0007\n");
}

// The trace names what was looked at and why it was refused; it never holds the token, and the
// MCP stream on standard output is the same with it as without it.
TEST(Diagnostics, TraceSaysWhyTheAppWasNotReached) {
  TempDir temp;
  std::string open_to_all = temp / "open", missing = temp / "missing";
  std::filesystem::create_directory(open_to_all);
  ::chmod(open_to_all.c_str(), 0755);
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {open_to_all, "check " + open_to_all + ": a directory, mode 0755",
       "Connector endpoint permissions are invalid\n"},
      {missing, "check " + missing + ": ", kOff},
  };
  for (const auto& [dir, traced, message] : rows) {
    Result result = request(dir, "tags", "{}", {{"QUORVI_TRACE", "1"}});
    EXPECT_NE(result.err.find("quorvi: trace: " + traced), std::string::npos) << result.err;
    EXPECT_TRUE(result.err.ends_with(message)) << result.err;
    // Only 1 asks for the trace.
    EXPECT_EQ(request(dir, "tags", "{}", {{"QUORVI_TRACE", "yes"}}).err, message);
  }

  StandinApp app(temp / "Automation");
  Command served = {.args = {"mcp-server"},
                    .env = {{"QUORVI_BRIDGE_DIR", app.dir()}},
                    .input = R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":)"
                             R"("quorvi_tags","_meta":{"io.modelcontextprotocol/protocolVersion":)"
                             R"("2026-07-28","io.modelcontextprotocol/clientCapabilities":{}}}})"};
  Result quiet = run(served);
  served.env.emplace_back("QUORVI_TRACE", "1");
  Result traced = run(served);
  EXPECT_EQ(traced.out, quiet.out);
  EXPECT_EQ(quiet.err, "");
  EXPECT_NE(traced.err.find("quorvi: trace: sent a request of "), std::string::npos) << traced.err;
  EXPECT_NE(traced.err.find("quorvi: trace: received an answer of "), std::string::npos);
  std::istringstream lines(traced.err);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.starts_with("quorvi: trace: ")) << line;
    EXPECT_EQ(line.find(app.token()), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace quorvi::test
