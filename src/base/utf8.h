// The one UTF-8 check: command-line words, inputs, environment values and JSON text.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvi {

// The length of the well-formed UTF-8 character that starts at `at` (no overlong form, no
// surrogate, nothing past U+10FFFF), or 0 when none does.
size_t utf8_length(std::string_view text, size_t at);

// True when `text` is well-formed UTF-8.
bool valid_utf8(std::string_view text);

}  // namespace quorvi
