#include "options.h"

#include <charconv>
#include <string_view>

namespace quorvi::standin {
namespace {

struct FaultName {
  std::string_view name;
  Fault fault;
};

constexpr FaultName kFaults[] = {
    {"delay", Fault::kDelay},
    {"close", Fault::kClose},
    {"partial", Fault::kPartial},
    {"zero-length", Fault::kZeroLength},
    {"oversize", Fault::kOversize},
    {"max-size", Fault::kMaxSize},
    {"not-json", Fault::kNotJson},
    {"trailing", Fault::kTrailing},
    {"invalid-utf8", Fault::kInvalidUtf8},
    {"hang", Fault::kHang},
    {"no-read", Fault::kNoRead},
    {"error-null", Fault::kErrorNull},
};

// An hour is far beyond any test; the bound keeps the arithmetic of waits in range.
constexpr int kMaxMs = 3600000;

// "--fault delay" on its own still has to be noticeably slow.
constexpr int kDefaultFaultDelayMs = 1000;

std::optional<int> milliseconds(const std::string& text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 ||
      value > kMaxMs) {
    return std::nullopt;
  }
  return value;
}

std::optional<Fault> fault_named(const std::string& name) {
  for (const auto& entry : kFaults) {
    if (entry.name == name) return entry.fault;
  }
  return std::nullopt;
}

}  // namespace

Outcome<Options> parse_options(const std::vector<std::string>& args) {
  Options options;
  bool have_dir = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "-h" || word == "--help") {
      options.help = true;
      continue;
    }
    if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
      if (have_dir) return fail("unexpected argument: " + word);
      options.dir = word;
      have_dir = true;
      continue;
    }
    if (i + 1 == args.size()) return fail("missing value for " + word);
    const std::string& value = args[++i];
    if (word == "--fault") {
      auto fault = fault_named(value);
      if (!fault) return fail("unknown fault mode: " + value);
      options.fault = *fault;
    } else if (word == "--delay-ms" || word == "--start-delay-ms") {
      auto ms = milliseconds(value);
      if (!ms) return fail("invalid milliseconds: " + value);
      if (word == "--delay-ms") {
        options.delay_ms = *ms;
      } else {
        options.start_delay_ms = *ms;
      }
    } else if (word == "--record") {
      options.record = value;
    } else if (word == "--answer") {
      options.answer = value;
    } else if (word == "--pid-file") {
      options.pid_file = value;
    } else if (word == "--token") {
      options.token = value;
    } else if (word == "--socket-name") {
      if (value.empty() || value.find('/') != std::string::npos || value == "." || value == "..") {
        return fail("invalid socket name: " + value);
      }
      options.socket_name = value;
    } else {
      return fail("unknown option: " + word);
    }
  }
  if (options.help) return options;
  if (!have_dir || options.dir.empty()) return fail("missing directory");
  return options;
}

int answer_delay_ms(const Options& options) {
  if (options.delay_ms) return *options.delay_ms;
  return options.fault == Fault::kDelay ? kDefaultFaultDelayMs : 0;
}

}  // namespace quorvi::standin
