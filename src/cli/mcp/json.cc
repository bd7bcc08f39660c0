#include "cli/mcp/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "cli/mcp/json_number.h"

namespace quorvi::mcp {
namespace {

// Builds the value from nlohmann's SAX events so that the depth limit stops the parse before a
// deeper level exists, and so that "-0" can become a double.
class Builder {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  Builder() = default;
  // A parse cut short, by a fault or by running out of memory, frees what it built.
  ~Builder() { release(root_); }
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;

  bool null() { return add(nullptr); }
  bool boolean(bool value) { return add(value); }
  // Only a literal with a minus sign arrives here, so a zero was written "-0".
  bool number_integer(number_integer_t value) { return value == 0 ? add(-0.0) : add(value); }
  bool number_unsigned(number_unsigned_t value) { return add(value); }
  bool number_float(number_float_t value, const string_t&) { return add(value); }
  bool string(string_t& value) { return add(std::move(value)); }
  bool binary(binary_t&) { return false; }
  bool start_object(std::size_t) { return open(Json::object()); }
  bool key(string_t& name) {
    key_ = std::move(name);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(Json::array()); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  Json take() { return std::move(root_); }

 private:
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
    // operator[] finds an earlier member of the same name: the last one counts.
    Json& slot = parent[key_];
    release(slot);
    slot = Json(std::forward<V>(value));
    return &slot;
  }

  template <class V>
  bool add(V&& value) {
    place(std::forward<V>(value));
    return true;
  }

  bool open(Json container) {
    if (open_.size() >= kMaxJsonDepth) return false;
    open_.push_back(place(std::move(container)));
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  Json root_;
  std::vector<Json*> open_;
  std::string key_;
};

// True when one of the eight bytes of `word` needs an escape: below 0x20, a quotation mark or
// a reverse solidus. Long strings (attachments) are mostly scanned this way, a word at a time.
bool needs_escape(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  auto has_zero = [&](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
  return ((word - kOnes * 0x20) & ~word & kHighs) | has_zero(word ^ (kOnes * '"')) |
         has_zero(word ^ (kOnes * '\\'));
}

}  // namespace

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

namespace {

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

// How `write` treats a binary value; see prewritten.
enum Subtype : std::uint8_t { kText = 1, kString = 2, kRepeat = 3 };

Json binary_of(std::initializer_list<std::string_view> pieces, Subtype subtype) {
  size_t size = 0;
  for (std::string_view piece : pieces)
    size += piece.size();
  Json::binary_t::container_type bytes;
  bytes.reserve(size);
  for (std::string_view piece : pieces)
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  return Json::binary(std::move(bytes), subtype);
}

std::string_view text_of(const Json::binary_t& bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The last prewritten string written by one `write` call, for a repeat.
using LastString = const Json::binary_t*;

void write_scalar(const Json& value, std::string& out, LastString& last) {
  switch (value.type()) {
    case Json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; break;
    case Json::value_t::number_integer: write_integer(value.get<std::int64_t>(), out); break;
    case Json::value_t::number_unsigned: write_integer(value.get<std::uint64_t>(), out); break;
    case Json::value_t::number_float: write_double(value.get<double>(), out); break;
    case Json::value_t::string: write_string(value.get_ref<const std::string&>(), out); break;
    case Json::value_t::binary: {
      const Json::binary_t& bytes = value.get_binary();
      if (bytes.has_subtype() && bytes.subtype() == kString) {
        write_string(text_of(bytes), out);
        last = &bytes;
      } else if (bytes.has_subtype() && bytes.subtype() == kRepeat) {
        if (last) out += text_of(*last);
      } else {
        out += text_of(bytes);
      }
      break;
    }
    default: out += "null"; break;
  }
}

// The size of a string written by write_string.
size_t string_size(std::string_view text) {
  size_t size = text.size() + 2, i = 0;
  while (i < text.size()) {
    if (text.size() - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (!needs_escape(word)) {
        i += 8;
        continue;
      }
    }
    unsigned char c = static_cast<unsigned char>(text[i++]);
    if (c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r') {
      size += 1;
    } else if (c < 0x20) {
      size += 5;
    }
  }
  return size;
}

size_t scalar_size(const Json& value, LastString& last) {
  if (value.is_string()) return string_size(value.get_ref<const std::string&>());
  if (value.is_binary()) {
    const Json::binary_t& bytes = value.get_binary();
    if (bytes.has_subtype() && bytes.subtype() == kString) {
      last = &bytes;
      return string_size(text_of(bytes));
    }
    if (bytes.has_subtype() && bytes.subtype() == kRepeat) return last ? last->size() : 0;
    return bytes.size();
  }
  std::string text;  // numbers and literals: a few bytes
  write_scalar(value, text, last);
  return text.size();
}

size_t value_size(const Json& value, LastString& last) {
  if (value.is_array()) {
    const Json::array_t& array = value.get_ref<const Json::array_t&>();
    size_t size = 2 + (array.empty() ? 0 : array.size() - 1);
    for (const Json& element : array)
      size += value_size(element, last);
    return size;
  }
  if (value.is_object()) {
    const Json::object_t& object = value.get_ref<const Json::object_t&>();
    size_t size = 2 + (object.empty() ? 0 : object.size() - 1);
    for (const auto& [name, member] : object)
      size += string_size(name) + 1 + value_size(member, last);
    return size;
  }
  return scalar_size(value, last);
}

void write_value(const Json& value, std::string& out, LastString& last) {
  // The containers are walked directly: nlohmann's iterators cost more than the writing.
  if (value.is_array()) {
    out += '[';
    bool first = true;
    for (const Json& element : value.get_ref<const Json::array_t&>()) {
      if (!first) out += ',';
      first = false;
      write_value(element, out, last);
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
      write_value(member, out, last);
    }
    out += '}';
  } else {
    write_scalar(value, out, last);
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

}  // namespace

bool acceptable_text(std::string_view text) {
  // nlohmann skips a leading byte-order mark; here only JSON white space may precede a value.
  if (text.starts_with("\xEF\xBB\xBF")) return false;
  // nlohmann's lexer takes a NUL byte for the end of input, which would accept "[]\0junk".
  // No NUL may stand anywhere in JSON text, so any one refuses it.
  if (text.find('\0') != std::string_view::npos) return false;
  return true;
}

std::optional<Json> parse(std::string_view text) {
  if (!acceptable_text(text)) return std::nullopt;
  Builder builder;
  if (!Json::sax_parse(text.begin(), text.end(), &builder)) return std::nullopt;
  return builder.take();
}

void write(const Json& value, std::string& out) {
  LastString last = nullptr;
  write_value(value, out, last);
}

size_t written_size(const Json& value) {
  LastString last = nullptr;
  return value_size(value, last);
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
  return binary_of({write(value)}, kText);
}

Json prewritten_text(std::initializer_list<std::string_view> pieces) {
  return binary_of(pieces, kText);
}

Json prewritten_string(std::initializer_list<std::string_view> pieces) {
  return binary_of(pieces, kString);
}

Json repeat_text() {
  return binary_of({}, kRepeat);
}

Json unquoted(Json prewritten_string) {
  if (prewritten_string.is_binary()) prewritten_string.get_binary().set_subtype(kText);
  return prewritten_string;
}

void release(Json& value) noexcept {
  if (value.is_array()) {
    Json::array_t& array = value.get_ref<Json::array_t&>();
    for (Json& element : array)
      release(element);
    array.clear();
  } else if (value.is_object()) {
    Json::object_t& object = value.get_ref<Json::object_t&>();
    for (auto& member : object)
      release(member.second);
    object.clear();
  }
}

}  // namespace quorvi::mcp
