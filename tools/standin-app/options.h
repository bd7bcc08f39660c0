// The command line of quorvi-standin-app.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"

namespace quorvi::standin {

enum class Fault {
  kNone,
  kDelay,
  kClose,
  kPartial,
  kZeroLength,
  kOversize,
  kMaxSize,
  kNotJson,
  kTrailing,
  kInvalidUtf8,
  kHang,
  kNoRead,
  kErrorNull,
};

struct Options {
  std::string dir;
  Fault fault = Fault::kNone;
  std::optional<int> delay_ms;
  std::optional<std::string> record;
  std::optional<std::string> answer;  // a file whose bytes answer every request
  std::optional<std::string> pid_file;
  int start_delay_ms = 0;
  std::optional<std::string> token;
  std::optional<std::string> socket_name;
  bool help = false;  // -h or --help: print kHelp and exit
};

inline constexpr const char* kUsage =
    "usage: quorvi-standin-app DIR [--fault MODE] [--delay-ms N] [--record FILE] "
    "[--pid-file FILE] [--start-delay-ms N] [--token TOKEN] [--socket-name NAME] "
    "[--answer FILE]";

inline constexpr const char* kHelp =
    "A stand-in for the Quorvi app's Desktop connector: publishes DIR/connection.json and serves\n"
    "the fourteen connector operations over an in-memory note store until SIGTERM or SIGINT.\n"
    "Point quorvi at it with QUORVI_BRIDGE_DIR=DIR. See tools/standin-app/README.md.\n"
    "\n"
    "  --fault MODE          misbehave on every connection: delay, close, partial, zero-length,\n"
    "                        oversize, max-size, not-json, trailing, invalid-utf8, hang, no-read,\n"
    "                        error-null\n"
    "  --delay-ms N          wait N ms before each answer\n"
    "  --record FILE         append each request body and a line feed to FILE\n"
    "  --answer FILE         answer every request with the bytes of FILE, read afresh\n"
    "  --pid-file FILE       write the process id to FILE first\n"
    "  --start-delay-ms N    wait N ms before creating anything\n"
    "  --token TOKEN         publish TOKEN instead of a random one\n"
    "  --socket-name NAME    listen on DIR/NAME instead of a random q-XXXXXXXX.sock\n"
    "  -h, --help            print this help and exit\n"
    "\n"
    "When it listens it prints one line to standard error: \"quorvi-standin-app: listening on\n"
    "SOCKET\". It refuses to start while another stand-in serves DIR.\n";

// The words after the program name. Options may come before or after DIR.
[[nodiscard]] Outcome<Options> parse_options(const std::vector<std::string>& args);

// How long to wait after reading a request before acting on it.
int answer_delay_ms(const Options& options);

}  // namespace quorvi::standin
