// The one UTF-8 check: command-line words, inputs, environment values and JSON text.
#pragma once

#include <string_view>

namespace quorvi {

// True when `text` is well-formed UTF-8 (no overlongs, surrogates or code points past U+10FFFF).
bool valid_utf8(std::string_view text);

}  // namespace quorvi
