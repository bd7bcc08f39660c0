#include "base/utf8.h"

namespace quorvi {

size_t utf8_length(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char c = byte(at);
  if (c < 0x80) return 1;
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
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

bool valid_utf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    // Plain ASCII is most of what is checked: it is skipped a byte at a time without a call.
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t length = utf8_length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace quorvi
