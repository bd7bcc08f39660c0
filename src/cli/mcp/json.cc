#include "cli/mcp/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "cli/mcp/json_number.h"

namespace quorvi::mcp {
namespace {

void write_string(std::string_view text, std::string& out);
void write_scalar(const Json& value, std::string& out);

// Builds the value from nlohmann's SAX events so that the depth limit stops the parse before a
// deeper level exists, and so that "-0" can become a double.
//
// In the lean form only the root is a tree: every array or object below it is written straight
// into compact text and held prewritten, so that a body of many small values costs about its
// own size rather than a node each; and of a root object only the wanted members are kept.
class Builder {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  Builder() = default;
  explicit Builder(std::span<const std::string_view> wanted) : lean_(true), wanted_(wanted) {}

  bool null() { return add(nullptr); }
  bool boolean(bool value) { return add(value); }
  // Only a literal with a minus sign arrives here, so a zero was written "-0".
  bool number_integer(number_integer_t value) { return value == 0 ? add(-0.0) : add(value); }
  bool number_unsigned(number_unsigned_t value) { return add(value); }
  bool number_float(number_float_t value, const string_t&) { return add(value); }
  bool string(string_t& value) { return add(std::move(value)); }
  bool binary(binary_t&) { return false; }
  bool start_object(std::size_t) { return open(true); }
  bool key(string_t& name) {
    if (!frames_.empty()) return text_key(name);
    key_ = std::move(name);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(false); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  Json take() { return std::move(root_); }

 private:
  // An array or object being written as text; its members are kept in `members_` from
  // `first_member` on, and its text in `text_` from `begin` on.
  struct Frame {
    bool object;
    size_t begin;
    size_t first_member;
    bool empty = true;
  };
  // One member of an open object: its raw name in `names_` and its text `"name":value` in
  // `text_`.
  struct Member {
    size_t name_begin;
    size_t name_size;
    size_t text_begin;
    size_t text_end = 0;
  };

  template <class V>
  Json* place(V&& value) {
    if (open_.empty()) {
      root_ = Json(std::forward<V>(value));
      return &root_;
    }
    Json& parent = *open_.back();
    if (parent.is_array()) {
      parent.emplace_back(std::forward<V>(value));
      return &parent.back();
    }
    // operator[] overwrites an earlier member of the same name: the last one counts.
    Json& slot = parent[key_];
    slot = Json(std::forward<V>(value));
    return &slot;
  }

  // A value below the root of a lean parse that no one wants is checked but not kept.
  bool dropped() const {
    return lean_ && open_.size() == 1 &&
           std::find(wanted_.begin(), wanted_.end(), key_) == wanted_.end();
  }

  template <class V>
  bool add(V&& value) {
    if (!frames_.empty()) {
      begin_text_value();
      write_scalar(Json(std::forward<V>(value)), text_);
    } else if (!dropped()) {
      place(std::forward<V>(value));
    }
    return true;
  }

  bool open(bool object) {
    if (open_.size() + frames_.size() >= kMaxJsonDepth) return false;
    if (lean_ && (!frames_.empty() || !open_.empty() || !object)) {
      if (!frames_.empty()) begin_text_value();
      frames_.push_back({object, text_.size(), members_.size()});
      text_ += object ? '{' : '[';
      return true;
    }
    open_.push_back(place(object ? Json::object() : Json::array()));
    return true;
  }

  bool close() {
    if (frames_.empty()) {
      open_.pop_back();
      return true;
    }
    if (frames_.back().object) {
      close_text_object();
    } else {
      text_ += ']';
    }
    frames_.pop_back();
    if (frames_.empty()) {
      if (!dropped()) {
        place(Json::binary(Json::binary_t::container_type(text_.begin(), text_.end())));
      }
      text_ = std::string();
    }
    return true;
  }

  void begin_text_value() {
    Frame& frame = frames_.back();
    if (frame.object) return;  // the member's name came first
    if (!frame.empty) text_ += ',';
    frame.empty = false;
  }

  bool text_key(const string_t& name) {
    Frame& frame = frames_.back();
    if (!frame.empty) {
      members_.back().text_end = text_.size();
      text_ += ',';
    }
    frame.empty = false;
    members_.push_back({names_.size(), name.size(), text_.size()});
    names_ += name;
    write_string(name, text_);
    text_ += ':';
    return true;
  }

  std::string_view name_of(const Member& member) const {
    return std::string_view(names_).substr(member.name_begin, member.name_size);
  }

  // Members were written in the order they came; the tree's order is ascending names, the last
  // of equal names winning. Text that already is in that order stays where it is.
  void close_text_object() {
    const Frame& frame = frames_.back();
    auto first = members_.begin() + static_cast<std::ptrdiff_t>(frame.first_member);
    if (first != members_.end()) {
      members_.back().text_end = text_.size();
      bool ordered =
          std::adjacent_find(first, members_.end(), [&](const Member& a, const Member& b) {
            return name_of(a) >= name_of(b);
          }) == members_.end();
      if (!ordered) {
        std::stable_sort(first, members_.end(),
                         [&](const Member& a, const Member& b) { return name_of(a) < name_of(b); });
        std::string sorted = "{";
        for (auto member = first; member != members_.end(); ++member) {
          auto next = member + 1;
          if (next != members_.end() && name_of(*next) == name_of(*member)) continue;
          if (sorted.size() > 1) sorted += ',';
          sorted.append(text_, member->text_begin, member->text_end - member->text_begin);
        }
        text_.resize(frame.begin);
        text_ += sorted;
      }
      names_.resize(first->name_begin);
      members_.erase(first, members_.end());
    }
    text_ += '}';
  }

  bool lean_ = false;
  std::span<const std::string_view> wanted_;
  Json root_;
  std::vector<Json*> open_;
  std::string key_;
  std::string text_;
  std::vector<Frame> frames_;
  std::vector<Member> members_;
  std::string names_;
};

// True when one of the eight bytes of `word` needs an escape: below 0x20, a quotation mark or
// a reverse solidus. Long strings (attachments) are mostly scanned this way, a word at a time.
bool needs_escape(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  auto has_zero = [&](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
  return ((word - kOnes * 0x20) & ~word & kHighs) | has_zero(word ^ (kOnes * '"')) |
         has_zero(word ^ (kOnes * '\\'));
}

void write_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  const char* data = text.data();
  size_t size = text.size(), run = 0, i = 0;
  while (i < size) {
    if (size - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, data + i, 8);
      if (!needs_escape(word)) {
        i += 8;
        continue;
      }
    }
    unsigned char c = static_cast<unsigned char>(data[i++]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(data + run, i - 1 - run);
    run = i;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(data + run, size - run);
  out += '"';
}

template <class Number>
void write_integer(Number value, std::string& out) {
  char buffer[24];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  out.append(buffer, end);
}

void write_double(double value, std::string& out) {
  if (!std::isfinite(value)) {
    out += "null";  // NaN and infinities have no JSON form; parsed values never hold them.
    return;
  }
  size_t start = out.size();
  write_shortest(value, out);
  if (out.find_first_of(".e", start) == std::string::npos) out += ".0";
}

void write_scalar(const Json& value, std::string& out) {
  switch (value.type()) {
    case Json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; break;
    case Json::value_t::number_integer: write_integer(value.get<std::int64_t>(), out); break;
    case Json::value_t::number_unsigned: write_integer(value.get<std::uint64_t>(), out); break;
    case Json::value_t::number_float: write_double(value.get<double>(), out); break;
    case Json::value_t::string: write_string(value.get_ref<const std::string&>(), out); break;
    case Json::value_t::binary: {
      const Json::binary_t& text = value.get_binary();
      out.append(text.begin(), text.end());
      break;
    }
    default: out += "null"; break;
  }
}

void indent(size_t depth, std::string& out) {
  out.append(depth * 2, ' ');
}

void write_pretty(const Json& value, size_t depth, std::string& out) {
  if (value.is_array() && !value.empty()) {
    out += "[\n";
    size_t left = value.size();
    for (const Json& element : value) {
      indent(depth + 1, out);
      write_pretty(element, depth + 1, out);
      out += --left ? ",\n" : "\n";
    }
    indent(depth, out);
    out += ']';
  } else if (value.is_object() && !value.empty()) {
    out += "{\n";
    size_t left = value.size();
    for (const auto& [name, member] : value.items()) {
      indent(depth + 1, out);
      write_string(name, out);
      out += ": ";
      write_pretty(member, depth + 1, out);
      out += --left ? ",\n" : "\n";
    }
    indent(depth, out);
    out += '}';
  } else {
    write(value, out);
  }
}

std::optional<Json> parse_with(std::string_view text, Builder& builder) {
  // nlohmann skips a leading byte-order mark; here only JSON white space may precede a value.
  if (text.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  // nlohmann's lexer takes a NUL byte for the end of input, which would accept "[]\0junk".
  // No NUL may stand anywhere in JSON text, so any one refuses it.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  if (!Json::sax_parse(text.begin(), text.end(), &builder)) return std::nullopt;
  return builder.take();
}

}  // namespace

std::optional<Json> parse(std::string_view text) {
  Builder builder;
  return parse_with(text, builder);
}

std::optional<Json> parse_members(std::string_view text,
                                  std::initializer_list<std::string_view> wanted) {
  Builder builder(std::span<const std::string_view>(wanted.begin(), wanted.size()));
  return parse_with(text, builder);
}

void write(const Json& value, std::string& out) {
  // The containers are walked directly: nlohmann's iterators cost more than the writing.
  if (value.is_array()) {
    out += '[';
    bool first = true;
    for (const Json& element : value.get_ref<const Json::array_t&>()) {
      if (!first) out += ',';
      first = false;
      write(element, out);
    }
    out += ']';
  } else if (value.is_object()) {
    out += '{';
    bool first = true;
    for (const auto& [name, member] : value.get_ref<const Json::object_t&>()) {
      if (!first) out += ',';
      first = false;
      write_string(name, out);
      out += ':';
      write(member, out);
    }
    out += '}';
  } else {
    write_scalar(value, out);
  }
}

std::string write(const Json& value) {
  std::string out;
  write(value, out);
  return out;
}

std::string write_pretty(const Json& value) {
  std::string out;
  write_pretty(value, 0, out);
  return out;
}

Json prewritten(const Json& value) {
  std::string text = write(value);
  return Json::binary(Json::binary_t::container_type(text.begin(), text.end()));
}

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

}  // namespace quorvi::mcp
