#include "cli/mcp/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "cli/mcp/json_number.h"

namespace quorvi::mcp {
namespace {

// Builds the tree of a text as it is read.
class TreeBuilder {
 public:
  // A parse cut short, by a fault or by running out of memory, frees what it built.
  ~TreeBuilder() { release(root_); }

  bool null() { return add(nullptr); }
  bool boolean(bool value) { return add(value); }
  bool integer(std::int64_t value) { return add(value); }
  bool unsigned_integer(std::uint64_t value) { return add(value); }
  bool real(double value) { return add(value); }
  bool string(const Text& text) {
    return add(text.written.empty() ? std::move(text.decoded) : std::string(text.bytes));
  }
  bool key(const Text& name) {
    key_.assign(name.bytes);
    return true;
  }
  bool start_object() { return open(Json::object()); }
  bool end_object() { return close(); }
  bool start_array() { return open(Json::array()); }
  bool end_array() { return close(); }

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

void write_escaped(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
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
    auto c = static_cast<unsigned char>(data[i++]);
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
}

// The size of `text` escaped as write_escaped escapes it.
size_t escaped_size(std::string_view text) {
  size_t size = text.size(), i = 0;
  while (i < text.size()) {
    if (text.size() - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (!needs_escape(word)) {
        i += 8;
        continue;
      }
    }
    auto c = static_cast<unsigned char>(text[i++]);
    if (c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r') {
      size += 1;
    } else if (c < 0x20) {
      size += 5;
    }
  }
  return size;
}

void write_scalar(const Json& value, std::string& out) {
  switch (value.type()) {
    case Json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; break;
    case Json::value_t::number_integer: write_integer(value.get<std::int64_t>(), out); break;
    case Json::value_t::number_unsigned: write_integer(value.get<std::uint64_t>(), out); break;
    case Json::value_t::number_float: write_double(value.get<double>(), out); break;
    case Json::value_t::string: write_string(value.get_ref<const std::string&>(), out); break;
    default: out += "null"; break;
  }
}

size_t value_size(const Json& value) {
  if (value.is_array()) {
    const Json::array_t& array = value.get_ref<const Json::array_t&>();
    size_t size = 2 + (array.empty() ? 0 : array.size() - 1);
    for (const Json& element : array)
      size += value_size(element);
    return size;
  }
  if (value.is_object()) {
    const Json::object_t& object = value.get_ref<const Json::object_t&>();
    size_t size = 2 + (object.empty() ? 0 : object.size() - 1);
    for (const auto& [name, member] : object)
      size += escaped_size(name) + 3 + value_size(member);
    return size;
  }
  if (value.is_string()) return escaped_size(value.get_ref<const std::string&>()) + 2;
  std::string text;  // numbers and literals: a few bytes
  write_scalar(value, text);
  return text.size();
}

void write_value(const Json& value, std::string& out) {
  // The containers are walked directly: nlohmann's iterators cost more than the writing.
  if (value.is_array()) {
    out += '[';
    bool first = true;
    for (const Json& element : value.get_ref<const Json::array_t&>()) {
      if (!first) out += ',';
      first = false;
      write_value(element, out);
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
      write_value(member, out);
    }
    out += '}';
  } else {
    write_scalar(value, out);
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

std::optional<Parsed> parse(std::string_view text) {
  TreeBuilder builder;
  if (!scan_json(text, builder)) return std::nullopt;
  return Parsed(builder.take());
}

void write_string(std::initializer_list<std::string_view> pieces, std::string& out) {
  out += '"';
  for (std::string_view piece : pieces)
    write_escaped(piece, out);
  out += '"';
}

size_t written_string_size(std::initializer_list<std::string_view> pieces) {
  size_t size = 2;
  for (std::string_view piece : pieces)
    size += escaped_size(piece);
  return size;
}

void write(const Json& value, std::string& out) {
  write_value(value, out);
}

size_t written_size(const Json& value) {
  return value_size(value);
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

}  // namespace quorvi::mcp
