#include "base/utf8.h"

namespace quorvi {

bool valid_utf8(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
  while (i < n) {
    unsigned char c = byte(i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;   // overlong
      if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;   // overlong
      if (c == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    if (byte(i + 1) < low || byte(i + 1) > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace quorvi
