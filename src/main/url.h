// Callback-URL commands: a command line becomes one quorvi://x-callback-url/ URL.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace quorvi {

// What the usage line and the shell completions say of a callback-URL command.
struct CommandWord {
  std::string_view word;
  std::string_view summary;  // what it does: "move a note to the trash"
  std::string_view undo;     // what --undo does instead: "restores"; empty where it does not apply
};

// Every callback-URL command, in the order of the usage line.
std::vector<CommandWord> url_commands();

// "Usage: quorvi [--callback URL] new|search|...|scratchpad [arguments]", the commands' words
// in their order.
std::string url_usage();

// The URL for the argument list (program name excluded), or the refusal message.
// `token` is QUORVI_API_TOKEN as read once per run; absent when unset or not UTF-8.
[[nodiscard]] Outcome<std::string> url(std::vector<std::string> args,
                                       const std::optional<std::string>& token);

// QUORVI_API_TOKEN, absent when unset or not valid UTF-8.
std::optional<std::string> api_token();

}  // namespace quorvi
