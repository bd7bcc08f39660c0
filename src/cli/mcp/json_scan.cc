#include "cli/mcp/json_scan.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/utf8.h"

namespace quorvi::mcp {
namespace {

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hexadecimal digits at `at`, or -1.
int code_unit(std::string_view in, size_t at) {
  if (in.size() - at < 4) return -1;
  int unit = 0;
  for (size_t i = 0; i < 4; ++i) {
    int digit = hex(in[at + i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

void append_utf8(std::uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The content `in` of a string with escapes, its escapes undone, into `out`; false for an escape
// JSON does not have, a lone surrogate, or bytes that are not UTF-8.
bool decode(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    size_t plain = in.find('\\', i);
    if (plain == std::string_view::npos) plain = in.size();
    out.append(in, i, plain - i);
    if (plain == in.size()) break;
    char escaped = in[plain + 1];  // a string never ends in a lone reverse solidus
    i = plain + 2;
    switch (escaped) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        int unit = code_unit(in, i);
        if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
        i += 4;
        auto code = static_cast<std::uint32_t>(unit);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          int low =
              in.size() - i >= 6 && in[i] == '\\' && in[i + 1] == 'u' ? code_unit(in, i + 2) : -1;
          if (low < 0xDC00 || low > 0xDFFF) return false;
          i += 6;
          code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
        }
        append_utf8(code, out);
        break;
      }
      default: return false;
    }
  }
  return valid_utf8(out);
}

bool digits(Cursor& cursor) {
  size_t begin = cursor.at;
  while (cursor.at < cursor.in.size() && cursor.in[cursor.at] >= '0' && cursor.in[cursor.at] <= '9')
    ++cursor.at;
  return cursor.at > begin;
}

bool at(const Cursor& cursor, char c) {
  return cursor.at < cursor.in.size() && cursor.in[cursor.at] == c;
}

}  // namespace

void skip_space(Cursor& cursor) {
  while (cursor.at < cursor.in.size()) {
    char c = cursor.in[cursor.at];
    if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
    ++cursor.at;
  }
}

bool read_literal(Cursor& cursor, std::string_view word) {
  if (cursor.in.substr(cursor.at, word.size()) != word) return false;
  cursor.at += word.size();
  return true;
}

bool read_string(Cursor& cursor, std::string_view& bytes, std::string_view& written) {
  std::string_view in = cursor.in;
  size_t begin = cursor.at + 1, i = begin;
  bool escapes = false;
  for (;;) {
    // Plain bytes, eight at a time: long strings (attachments) are mostly these.
    while (in.size() - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, in.data() + i, 8);
      if (needs_escape(word)) break;
      i += 8;
    }
    if (i >= in.size()) return false;
    auto c = static_cast<unsigned char>(in[i]);
    if (c == '"') break;
    if (c < 0x20) return false;
    if (c == '\\') {
      escapes = true;
      if (++i >= in.size()) return false;
    }
    ++i;
  }
  cursor.at = i + 1;
  std::string_view content = in.substr(begin, i - begin);
  if (!escapes) {
    if (!valid_utf8(content)) return false;
    bytes = content;
    written = in.substr(begin - 1, content.size() + 2);
    return true;
  }
  if (!decode(content, cursor.decoded)) return false;
  bytes = cursor.decoded;
  written = {};
  return true;
}

Number read_number(Cursor& cursor) {
  size_t begin = cursor.at;
  bool negative = at(cursor, '-');
  if (negative) ++cursor.at;
  if (at(cursor, '0')) {
    ++cursor.at;
  } else if (!digits(cursor)) {
    return {};
  }
  bool integral = true;
  if (at(cursor, '.')) {
    ++cursor.at;
    if (!digits(cursor)) return {};
    integral = false;
  }
  if (at(cursor, 'e') || at(cursor, 'E')) {
    ++cursor.at;
    if (at(cursor, '+') || at(cursor, '-')) ++cursor.at;
    if (!digits(cursor)) return {};
    integral = false;
  }
  const char* first = cursor.in.data() + begin;
  const char* last = cursor.in.data() + cursor.at;
  Number number;
  if (integral && negative) {
    // "-0" is the double -0.0: only a double keeps the sign of zero.
    if (std::from_chars(first, last, number.negative).ec == std::errc() && number.negative != 0) {
      number.kind = Number::Kind::kNegative;
      return number;
    }
  } else if (integral) {
    if (std::from_chars(first, last, number.unsigned_value).ec == std::errc()) {
      number.kind = Number::Kind::kUnsigned;
      return number;
    }
  }
  // strtod rounds correctly; a number beyond a double is refused, as no double holds it.
  std::string token(first, last);
  number.real = std::strtod(token.c_str(), nullptr);
  if (std::isfinite(number.real)) number.kind = Number::Kind::kReal;
  return number;
}

}  // namespace quorvi::mcp
