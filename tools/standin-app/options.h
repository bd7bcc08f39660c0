// The command line of quorvi-standin-app.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"

namespace quorvi::standin {

enum class Fault {
  none,
  delay,
  close,
  partial,
  zero_length,
  oversize,
  max_size,
  not_json,
  trailing,
  invalid_utf8,
  hang,
  no_read,
  error_null,
};

struct Options {
  std::string dir;
  Fault fault = Fault::none;
  std::optional<int> delay_ms;
  std::optional<std::string> record;
  std::optional<std::string> pid_file;
  int start_delay_ms = 0;
  std::optional<std::string> token;
  std::optional<std::string> socket_name;
};

inline constexpr const char* kUsage =
    "usage: quorvi-standin-app DIR [--fault MODE] [--delay-ms N] [--record FILE] "
    "[--pid-file FILE] [--start-delay-ms N] [--token TOKEN] [--socket-name NAME]";

// The words after the program name. Options may come before or after DIR.
Outcome<Options> parse_options(const std::vector<std::string>& args);

// How long to wait after reading a request before acting on it.
int answer_delay_ms(const Options& options);

}  // namespace quorvi::standin
