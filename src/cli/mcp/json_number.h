// Doubles in their shortest decimal form, written without std::to_chars, which Apple's libc++
// offers only from macOS 13.3 on.
#pragma once

#include <string>

namespace quorvi::mcp {

// Appends the shortest decimal text that reads back as `value` (of equally short ones the
// closest), in fixed notation or, when that is shorter, scientific with a signed exponent of at
// least two digits: 0.1, 1e+23, 1.5e-07, 123456789012345680. Exactly what std::to_chars(double)
// writes; `value` must be finite.
void write_shortest(double value, std::string& out);

}  // namespace quorvi::mcp
