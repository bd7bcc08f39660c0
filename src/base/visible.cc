#include "base/visible.h"

#include "base/utf8.h"

namespace quorvi {

size_t visible_length(std::string_view text, size_t at) {
  size_t length = utf8_length(text, at);
  return length == 0 ? 1 : length;
}

size_t visible_escape(std::string_view text, size_t at, size_t length, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  auto byte = static_cast<unsigned char>(text[at]);
  auto hex = [&](const char* prefix, unsigned char value) {
    size_t size = 0;
    for (; *prefix; ++prefix)
      out[size++] = *prefix;
    out[size++] = kHex[value >> 4];
    out[size++] = kHex[value & 0xF];
    return size;
  };
  if (byte == '\n' || byte == '\r' || byte == '\t') {
    out[0] = '\\';
    out[1] = byte == '\n' ? 'n' : byte == '\r' ? 'r' : 't';
    return 2;
  }
  if (byte < 0x20 || byte == 0x7F) return hex("\\u00", byte);
  if (length == 1 && byte >= 0x80) return hex("\\x", byte);  // not part of a UTF-8 character
  // U+0080 to U+009F: C2 80 to C2 9F.
  if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
    return hex("\\u00", static_cast<unsigned char>(text[at + 1]));
  }
  return 0;
}

}  // namespace quorvi
