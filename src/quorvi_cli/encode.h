#pragma once

#include <string>
#include <string_view>

namespace quorvi {

// Percent-encodes every byte outside the unreserved set of RFC 3986 (letters, digits, "-._~")
// as "%" and two upper-case hexadecimal digits. Nothing counts as already encoded.
std::string encode(std::string_view text);

}  // namespace quorvi
