// Callback-URL commands: a command line becomes one quorvi://x-callback-url/ URL.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"

namespace quorvi {

inline constexpr char kUrlUsage[] =
    "Usage: quorvi [--callback URL] "
    "new|search|open|append|prepend|replace|trash|archive|pin|notes|tags|scratchpad [arguments]";

// The URL for the argument list (program name excluded), or the refusal message.
// `token` is QUORVI_API_TOKEN as read once per run; absent when unset or not UTF-8.
[[nodiscard]] Outcome<std::string> url(std::vector<std::string> args,
                                       const std::optional<std::string>& token);

// QUORVI_API_TOKEN, absent when unset or not valid UTF-8.
std::optional<std::string> api_token();

}  // namespace quorvi
