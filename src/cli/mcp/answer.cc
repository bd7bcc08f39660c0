#include "cli/mcp/lean.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "base/utf8.h"

namespace quorvi::mcp {
namespace {

int hex_digit(char c) {
  return c <= '9' ? c - '0' : c - 'a' + 10;
}

// The next byte of a name that write_string wrote, its escapes undone; -1 at the closing
// quotation mark (which ends the name before any byte, as in byte order).
int name_byte(std::string_view text, size_t& at) {
  char c = text[at];
  if (c == '"') return -1;
  if (c != '\\') {
    ++at;
    return static_cast<unsigned char>(c);
  }
  char escaped = text[at + 1];
  at += 2;
  switch (escaped) {
    case 'b': return '\b';
    case 't': return '\t';
    case 'n': return '\n';
    case 'f': return '\f';
    case 'r': return '\r';
    case 'u': {  // only \u00XX is written
      int byte = hex_digit(text[at + 2]) * 16 + hex_digit(text[at + 3]);
      at += 4;
      return byte;
    }
    default: return static_cast<unsigned char>(escaped);
  }
}

// Compares the names written at `a` and `b` (each at its opening quotation mark) in byte order.
int compare_names(std::string_view text, size_t a, size_t b) {
  ++a, ++b;
  for (;;) {
    int x = name_byte(text, a), y = name_byte(text, b);
    if (x != y) return x < y ? -1 : 1;
    if (x < 0) return 0;
  }
}

}  // namespace

// Writes each wanted member of the root object straight into compact text as it is parsed.
// Objects are written with their members in the order they came; one whose members are out of
// order, or repeat a name, is noted with its members' order, and put in order once, later.
class LeanBuilder {
 public:
  LeanBuilder(std::span<const std::string_view> wanted, size_t text_size)
      : wanted_(wanted), found_(wanted.size()), text_size_(text_size) {}

  bool null() { return scalar(nullptr); }
  bool boolean(bool value) { return scalar(value); }
  // Only a literal with a minus sign arrives here, so a zero was written "-0".
  bool number_integer(std::int64_t value) { return value == 0 ? scalar(-0.0) : scalar(value); }
  bool number_unsigned(std::uint64_t value) { return scalar(value); }
  bool number_float(double value) { return scalar(value); }
  // A string as write_string writes it, quotation marks included.
  bool string(std::string_view written) {
    if (begin_value()) {
      text_ += written;
      end_value();
    }
    return true;
  }
  // A string with escapes, given by its bytes.
  bool decoded_string(std::string_view bytes) {
    if (begin_value()) {
      write_string(bytes, text_);
      end_value();
    }
    return true;
  }
  bool start_object() { return open(true); }
  // A member's name as written, and its bytes.
  bool key(std::string_view written, std::string_view name);
  bool end_object() { return close(); }
  bool start_array() { return open(false); }
  bool end_array() { return close(); }

  Members take() { return std::move(found_); }

 private:
  struct Frame {
    bool object;
    bool empty;
    std::uint32_t begin;
    size_t first_member;  // in members_
  };

  // Offsets are 32 bits wide; a text that would outgrow them is refused.
  bool fits() const { return text_.size() < std::numeric_limits<std::uint32_t>::max() - 8; }

  // Before every value: true when it is written, after the separator it needs.
  bool begin_value() {
    if (!keeping_) return false;
    if (!frames_.empty() && !frames_.back().object) {
      if (!frames_.back().empty) text_ += ',';
      frames_.back().empty = false;
    }
    return true;
  }

  // After a written value: a root member's value is complete when no container is open.
  void end_value() {
    if (!frames_.empty()) return;
    Prewritten& member = found_[slot_].emplace();
    // An answer's result often takes its whole text; a small one keeps no large buffer.
    if (text_.capacity() / 2 > text_.size()) text_.shrink_to_fit();
    member.text_ = std::move(text_);
    member.order_ = std::move(order_);
    member.reordered_ = std::move(reordered_);
    text_ = std::string();
    order_ = {};
    reordered_ = {};
    keeping_ = false;
  }

  template <class V>
  bool scalar(V value) {
    if (begin_value()) {
      write(Json(value), text_);
      end_value();
    }
    return true;
  }

  bool open(bool object) {
    if (depth_ >= kMaxJsonDepth) return false;
    ++depth_;
    if (depth_ == 1) return true;  // the root
    if (!begin_value()) return true;
    if (!fits()) return false;
    frames_.push_back({object, true, static_cast<std::uint32_t>(text_.size()), members_.size()});
    text_ += object ? '{' : '[';
    return true;
  }

  bool close() {
    --depth_;
    if (frames_.empty()) return true;  // the root, or a member no one wants
    if (frames_.back().object) {
      close_object();
    } else {
      text_ += ']';
    }
    frames_.pop_back();
    end_value();
    return true;
  }

  void close_object();

  std::span<const std::string_view> wanted_;
  Members found_;
  size_t text_size_;
  bool reserved_ = false;
  size_t depth_ = 0;
  bool keeping_ = false;
  size_t slot_ = 0;
  std::string text_;
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> members_;  // name offsets of the open objects' members
  std::vector<std::uint32_t> order_;
  std::vector<Prewritten::Reordered> reordered_;
};

bool LeanBuilder::key(std::string_view written, std::string_view name) {
  if (depth_ == 1) {
    auto wanted = std::find(wanted_.begin(), wanted_.end(), name);
    keeping_ = wanted != wanted_.end();
    slot_ = static_cast<size_t>(wanted - wanted_.begin());
    // A wanted member may be most of the text: room for all of it once, so that it is never
    // copied to grow. Pages not written to cost no memory.
    if (keeping_ && !reserved_) text_.reserve(text_size_);
    reserved_ = reserved_ || keeping_;
    return true;
  }
  if (!keeping_) return true;
  if (!fits()) return false;
  Frame& frame = frames_.back();
  if (!frame.empty) text_ += ',';
  frame.empty = false;
  members_.push_back(static_cast<std::uint32_t>(text_.size()));
  text_ += written;
  text_ += ':';
  return true;
}

void LeanBuilder::close_object() {
  const Frame& frame = frames_.back();
  auto first = members_.begin() + static_cast<std::ptrdiff_t>(frame.first_member);
  auto before = [&](std::uint32_t a, std::uint32_t b) {
    int order = compare_names(text_, a, b);
    return order < 0 || (order == 0 && a < b);
  };
  bool ascending = std::adjacent_find(first, members_.end(), [&](std::uint32_t a, std::uint32_t b) {
                     return compare_names(text_, a, b) >= 0;
                   }) == members_.end();
  if (!ascending) {
    // Sorted in place by name, then by place; of equal names the last one counts. Members that
    // only repeat names, or came in reverse order, need no sort.
    auto descending = [&](std::uint32_t a, std::uint32_t b) {
      return compare_names(text_, a, b) > 0;
    };
    if (std::adjacent_find(first, members_.end(), [&](std::uint32_t a, std::uint32_t b) {
          return compare_names(text_, a, b) <= 0;
        }) == members_.end()) {
      std::reverse(first, members_.end());
    } else if (std::adjacent_find(first, members_.end(), descending) != members_.end()) {
      std::sort(first, members_.end(), before);
    }
    auto kept = first;
    for (auto member = first; member != members_.end(); ++member) {
      auto next = member + 1;
      if (next != members_.end() && compare_names(text_, *member, *next) == 0) continue;
      *kept++ = *member;
    }
    auto start = static_cast<std::uint32_t>(order_.size());
    order_.insert(order_.end(), first, kept);
    reordered_.push_back({frame.begin, static_cast<std::uint32_t>(text_.size() + 1), start,
                          static_cast<std::uint32_t>(kept - first)});
  }
  members_.erase(first, members_.end());
  text_ += '}';
}

namespace {

// Writes text that LeanBuilder wrote, with every noted object's members in their order.
struct Ordering {
  std::string_view text;
  const std::vector<std::uint32_t>& order;
  std::span<const Prewritten::Reordered> reordered;  // by `begin`
  std::string& out;

  // Past the closing quotation mark of the string that starts at `at`.
  size_t string_end(size_t at) const {
    for (size_t from = at + 1;;) {
      size_t quote = text.find('"', from);
      size_t slashes = 0;
      while (text[quote - 1 - slashes] == '\\')
        ++slashes;
      if (slashes % 2 == 0) return quote + 1;
      from = quote + 1;
    }
  }

  size_t copy(size_t at, size_t end) {
    out.append(text, at, end - at);
    return end;
  }

  size_t member(size_t at) {
    at = copy(at, string_end(at));
    out += ':';
    return value(at + 1);
  }

  // Writes the value at `at`; returns the offset past it.
  size_t value(size_t at) {
    char c = text[at];
    if (c == '"') return copy(at, string_end(at));
    if (c != '[' && c != '{') {
      size_t end = std::min(text.find_first_of(",]}", at), text.size());
      return copy(at, end);
    }
    if (c == '{') {
      auto noted = std::lower_bound(
          reordered.begin(), reordered.end(), at,
          [](const Prewritten::Reordered& object, size_t begin) { return object.begin < begin; });
      if (noted != reordered.end() && noted->begin == at) {
        out += '{';
        for (std::uint32_t i = 0; i < noted->count; ++i) {
          if (i) out += ',';
          member(order[noted->first + i]);
        }
        out += '}';
        return noted->end;
      }
    }
    out += c;
    char close = c == '{' ? '}' : ']';
    if (text[++at] == close) {
      out += close;
      return at + 1;
    }
    for (;;) {
      at = c == '{' ? member(at) : value(at);
      char next = text[at++];
      out += next;
      if (next == close) return at;
    }
  }
};

}  // namespace

void Prewritten::put_in_order() {
  if (reordered_.empty()) return;
  std::sort(reordered_.begin(), reordered_.end(),
            [](const Reordered& a, const Reordered& b) { return a.begin < b.begin; });
  std::string ordered;
  ordered.reserve(text_.size());
  Ordering{text_, order_, reordered_, ordered}.value(0);
  text_ = std::move(ordered);
  order_ = {};
  reordered_ = {};
}

const std::string& Prewritten::text() {
  put_in_order();
  return text_;
}

std::string Prewritten::take() && {
  put_in_order();
  return std::move(text_);
}

namespace {

// Strict JSON text, read straight from the answer: a string without escapes is copied as it
// stands, since that is how write_string writes it, and no token is held apart from the text.
// Accepts and refuses exactly what parse does.
class Scanner {
 public:
  Scanner(std::string_view text, LeanBuilder& builder) : in_(text), out_(builder) {}

  bool document() {
    if (!value()) return false;
    skip_space();
    return at_ == in_.size();
  }

 private:
  char peek() const { return at_ < in_.size() ? in_[at_] : '\0'; }

  void skip_space() {
    while (at_ < in_.size() &&
           (in_[at_] == ' ' || in_[at_] == '\n' || in_[at_] == '\r' || in_[at_] == '\t')) {
      ++at_;
    }
  }

  bool value() {
    skip_space();
    switch (peek()) {
      case '{': return object();
      case '[': return array();
      case '"': return string_value();
      case 't': return literal("true") && out_.boolean(true);
      case 'f': return literal("false") && out_.boolean(false);
      case 'n': return literal("null") && out_.null();
      default: return number();
    }
  }

  bool literal(std::string_view word) {
    if (in_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool object() {
    ++at_;
    if (!out_.start_object()) return false;
    skip_space();
    if (peek() == '}') {
      ++at_;
      return out_.end_object();
    }
    for (;;) {
      skip_space();
      if (peek() != '"') return false;
      std::string_view written;
      if (!name(written, name_) || !out_.key(written, name_)) return false;
      skip_space();
      if (peek() != ':') return false;
      ++at_;
      if (!value()) return false;
      skip_space();
      char next = peek();
      ++at_;
      if (next == '}') return out_.end_object();
      if (next != ',') return false;
    }
  }

  bool array() {
    ++at_;
    if (!out_.start_array()) return false;
    skip_space();
    if (peek() == ']') {
      ++at_;
      return out_.end_array();
    }
    for (;;) {
      if (!value()) return false;
      skip_space();
      char next = peek();
      ++at_;
      if (next == ']') return out_.end_array();
      if (next != ',') return false;
    }
  }

  static int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Four hexadecimal digits at `at`, or -1.
  int code_unit(size_t at) const {
    if (in_.size() - at < 4) return -1;
    int unit = 0;
    for (size_t i = 0; i < 4; ++i) {
      int digit = hex(in_[at + i]);
      if (digit < 0) return -1;
      unit = unit * 16 + digit;
    }
    return unit;
  }

  static void append_utf8(std::uint32_t code, std::string& out) {
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

  // Undoes the escapes of the string whose content is in_[begin, end).
  bool decode(size_t begin, size_t end, std::string& out) const {
    out.clear();
    for (size_t i = begin; i < end;) {
      if (in_[i] != '\\') {
        out += in_[i++];
        continue;
      }
      char escaped = in_[i + 1];
      i += 2;
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
          int unit = code_unit(i);
          if (unit < 0) return false;
          i += 4;
          std::uint32_t code = static_cast<std::uint32_t>(unit);
          if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            int low = end - i >= 6 && in_[i] == '\\' && in_[i + 1] == 'u' ? code_unit(i + 2) : -1;
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

  // Past the string at at_: its content in_[begin, end), and whether it holds escapes.
  bool string_span(size_t& begin, size_t& end, bool& escapes) {
    begin = ++at_;
    escapes = false;
    for (;; ++at_) {
      if (at_ >= in_.size()) return false;
      unsigned char c = static_cast<unsigned char>(in_[at_]);
      if (c == '"') break;
      if (c < 0x20) return false;
      if (c == '\\') {
        escapes = true;
        ++at_;
        if (at_ >= in_.size()) return false;
      }
    }
    end = at_++;
    return true;
  }

  // A string value: copied as it stands when it has no escapes, else decoded and written.
  bool string_value() {
    size_t begin, end;
    bool escapes;
    if (!string_span(begin, end, escapes)) return false;
    if (!escapes) {
      return valid_utf8(in_.substr(begin, end - begin)) &&
             out_.string(in_.substr(begin - 1, end - begin + 2));
    }
    decoded_.reserve(end - begin);
    bool valid = decode(begin, end, decoded_) && out_.decoded_string(decoded_);
    decoded_ = std::string();
    return valid;
  }

  // The name at at_ as write_string writes it, and its bytes.
  bool name(std::string_view& written, std::string& bytes) {
    size_t begin, end;
    bool escapes;
    if (!string_span(begin, end, escapes)) return false;
    if (!escapes) {
      std::string_view content = in_.substr(begin, end - begin);
      if (!valid_utf8(content)) return false;
      bytes = content;
      written = in_.substr(begin - 1, end - begin + 2);
      return true;
    }
    if (!decode(begin, end, bytes)) return false;
    rewritten_.clear();
    write_string(bytes, rewritten_);
    written = rewritten_;
    return true;
  }

  bool digits() {
    size_t begin = at_;
    while (at_ < in_.size() && in_[at_] >= '0' && in_[at_] <= '9')
      ++at_;
    return at_ > begin;
  }

  bool number() {
    size_t begin = at_;
    bool negative = peek() == '-';
    if (negative) ++at_;
    if (peek() == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    bool integral = true;
    if (peek() == '.') {
      ++at_;
      if (!digits()) return false;
      integral = false;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++at_;
      if (peek() == '+' || peek() == '-') ++at_;
      if (!digits()) return false;
      integral = false;
    }
    const char* first = in_.data() + begin;
    const char* last = in_.data() + at_;
    if (integral && negative) {
      std::int64_t value;
      if (std::from_chars(first, last, value).ec == std::errc()) return out_.number_integer(value);
    } else if (integral) {
      std::uint64_t value;
      if (std::from_chars(first, last, value).ec == std::errc()) return out_.number_unsigned(value);
    }
    // As the library reads numbers: strtod, and refused when the result is not finite.
    std::string token(first, last);
    double value = std::strtod(token.c_str(), nullptr);
    return std::isfinite(value) && out_.number_float(value);
  }

  std::string_view in_;
  LeanBuilder& out_;
  size_t at_ = 0;
  std::string decoded_, name_, rewritten_;
};

}  // namespace

std::optional<Members> parse_members(std::string_view text,
                                     std::initializer_list<std::string_view> wanted) {
  if (!acceptable_text(text)) return std::nullopt;
  LeanBuilder builder(std::span<const std::string_view>(wanted.begin(), wanted.size()),
                      text.size());
  if (!Scanner(text, builder).document()) return std::nullopt;
  return builder.take();
}

}  // namespace quorvi::mcp
