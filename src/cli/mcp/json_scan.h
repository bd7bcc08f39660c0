// The one reader of JSON text. It checks every rule of the JSON value and reports what it reads
// to a handler, part by part, so that the tree parser (json.cc) and the readers that keep only a
// part of a text (the connector's answer, the MCP envelope) accept and refuse exactly the same
// texts.
//
// A handler has these members; each returns false to stop the scan, which then fails:
//   bool null(); bool boolean(bool);
//   bool integer(std::int64_t);           // a negative integer
//   bool unsigned_integer(std::uint64_t);
//   bool real(double);                    // a fraction or exponent, "-0", or beyond 64 bits
//   bool string(const Text&); bool key(const Text&);
//   bool start_object(); bool end_object(); bool start_array(); bool end_array();
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvi::mcp {

// Arrays and objects may nest this deep; one level more is a parse failure.
inline constexpr size_t kMaxJsonDepth = 127;

// True when one of the eight bytes of `word` is below 0x20, a quotation mark or a reverse solidus:
// the bytes a JSON string cannot hold as they are. Long strings are scanned a word at a time.
inline bool needs_escape(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  auto has_zero = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
  return ((word - kOnes * 0x20) & ~word & kHighs) | has_zero(word ^ (kOnes * '"')) |
         has_zero(word ^ (kOnes * '\\'));
}

// A string or member name as read: its bytes, and, where the text held no escape, its written
// form with the quotation marks, which is then exactly what write_string writes for those bytes.
// The bytes of a string with escapes are in `decoded`, which the handler may take.
struct Text {
  std::string_view bytes;
  std::string_view written;  // empty when the text held escapes
  std::string& decoded;
};

// Where a scan stands in its text; read by the functions below.
struct Cursor {
  std::string_view in;
  size_t at = 0;
  size_t depth = 0;
  std::string decoded;  // the last string with escapes, its escapes undone
};

void skip_space(Cursor& cursor);
bool read_literal(Cursor& cursor, std::string_view word);
// The string whose opening quotation mark is at cursor.at; false when it breaks a rule.
bool read_string(Cursor& cursor, std::string_view& bytes, std::string_view& written);

struct Number {
  enum class Kind { kInvalid, kNegative, kUnsigned, kReal } kind = Kind::kInvalid;
  std::int64_t negative = 0;
  std::uint64_t unsigned_value = 0;
  double real = 0;
};
// The number at cursor.at, of the kind its text makes it.
Number read_number(Cursor& cursor);

// Reads exactly one value with optional white space around it, handing each part to `out`.
template <class Handler>
class JsonScan {
 public:
  JsonScan(std::string_view text, Handler& handler) : out_(handler) { cursor_.in = text; }

  bool document() {
    if (!value()) return false;
    skip_space(cursor_);
    return cursor_.at == cursor_.in.size();
  }

 private:
  char peek() const { return cursor_.at < cursor_.in.size() ? cursor_.in[cursor_.at] : '\0'; }

  bool value() {
    skip_space(cursor_);
    switch (peek()) {
      case '{': return object();
      case '[': return array();
      case '"': {
        std::string_view bytes, written;
        return read_string(cursor_, bytes, written) &&
               out_.string(Text{bytes, written, cursor_.decoded});
      }
      case 't': return read_literal(cursor_, "true") && out_.boolean(true);
      case 'f': return read_literal(cursor_, "false") && out_.boolean(false);
      case 'n': return read_literal(cursor_, "null") && out_.null();
      default: return number();
    }
  }

  bool number() {
    Number number = read_number(cursor_);
    switch (number.kind) {
      case Number::Kind::kNegative: return out_.integer(number.negative);
      case Number::Kind::kUnsigned: return out_.unsigned_integer(number.unsigned_value);
      case Number::Kind::kReal: return out_.real(number.real);
      case Number::Kind::kInvalid: break;
    }
    return false;
  }

  // Past the opening bracket of a new level, refused before anything of it is built.
  bool enter() {
    ++cursor_.at;
    return ++cursor_.depth <= kMaxJsonDepth;
  }

  // Past the closing bracket of an empty array or object: true when it stands next.
  bool closes_at_once(char close) {
    skip_space(cursor_);
    if (peek() != close) return false;
    ++cursor_.at;
    --cursor_.depth;
    return true;
  }

  // Past the separator after an element: true to go on, and `closed` at the closing bracket.
  bool next(char close, bool& closed) {
    skip_space(cursor_);
    char c = peek();
    ++cursor_.at;
    closed = c == close;
    if (closed) --cursor_.depth;
    return closed || c == ',';
  }

  bool object() {
    if (!enter() || !out_.start_object()) return false;
    bool closed = closes_at_once('}');
    while (!closed) {
      skip_space(cursor_);
      std::string_view bytes, written;
      if (peek() != '"' || !read_string(cursor_, bytes, written) ||
          !out_.key(Text{bytes, written, cursor_.decoded})) {
        return false;
      }
      skip_space(cursor_);
      if (peek() != ':') return false;
      ++cursor_.at;
      if (!value() || !next('}', closed)) return false;
    }
    return out_.end_object();
  }

  bool array() {
    if (!enter() || !out_.start_array()) return false;
    bool closed = closes_at_once(']');
    while (!closed) {
      if (!value() || !next(']', closed)) return false;
    }
    return out_.end_array();
  }

  Cursor cursor_;
  Handler& out_;
};

// True when `text` is exactly one JSON value, every part of which `handler` took.
template <class Handler>
bool scan_json(std::string_view text, Handler& handler) {
  return JsonScan<Handler>(text, handler).document();
}

}  // namespace quorvi::mcp
