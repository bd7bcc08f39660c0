// The end-to-end harness: runs an executable of the build with chosen arguments, environment,
// standard input and resource limits, and captures its output and exit status.
//
//   Result result = run({.args = {"request", "tags", "{}"}, .env = {{"QUORVI_BRIDGE_DIR", dir}}});
//
// Every QUORVI_* variable is unset in the child unless the command sets it, so that no test
// depends on the environment it was started from.
#pragma once

#include <unistd.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"

namespace quorvi::test {

// Changes to the inherited environment: a value sets, nothing unsets.
using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct Command {
  std::vector<std::string> args;  // without the program name
  Env env;
  std::string input;          // written to standard input, which is then closed
  bool close_stdout = false;  // standard output is a pipe whose reader is gone
  // When not negative, standard input is a terminal in non-blocking mode, as some hosts hand one
  // over: `input` reaches it once the child sleeps (waiting for it), or after this many
  // milliseconds, then the terminal's end-of-file character.
  int terminal_input_ms = -1;
  // Standard output and error are terminals (one each, in raw mode, so that bytes pass as
  // written); what reaches them comes back in `out` and `err`.
  bool terminal_output = false;
  std::string program;  // defaults to quorvi_exe()
};

struct Result {
  int status = -1;  // exit status; -1 when killed by a signal, or after a minute
  std::string out, err;
  int elapsed_ms = 0;
  int cpu_ms = 0;  // the processor time the child used, user and system
};

Result run(const Command& command);
// `quorvi request OPERATION ARGUMENTS` with the connector directory `dir` (when empty, the
// default directories of the environment).
Result request(const std::string& dir, const std::string& operation = "tags",
               const std::string& arguments = "{}", Env env = {}, const std::string& program = "");
// Runs `bash -c LINE quorvi ARGS...`, so that `"$0"` is quorvi: for limits, signal dispositions
// (dash cannot leave the child-ended signal ignored) and redirections around it.
Result shell(const std::string& line, std::vector<std::string> args = {}, Env env = {},
             const std::string& input = "");

// The test variant, whose opener is the test opener; the program as installed, which runs
// /usr/bin/open; and tools/standin-app.
inline const auto quorvi_exe = [] { return std::string(QUORVI_TEST_EXE); };
inline const auto shipped_exe = [] { return std::string(QUORVI_SHIPPED_EXE); };
inline const auto standin_app_exe = [] { return std::string(QUORVI_STANDIN_APP_EXE); };

// True in a build with AddressSanitizer, whose shadow memory rules out address-space limits.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// Polls `done` every 10 ms for at most `timeout_ms`; its last answer.
template <class Done>
bool wait_until(Done done, int timeout_ms) {
  for (int waited = 0; !done() && waited < timeout_ms; waited += 10)
    ::usleep(10000);
  return done();
}

}  // namespace quorvi::test
