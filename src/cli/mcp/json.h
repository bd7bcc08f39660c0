// The one JSON value of the program: nlohmann::json (objects are std::map, so members keep
// ascending byte order), read by our strict reader (json_scan.h) and written by our writers.
#pragma once

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "cli/mcp/json_scan.h"

namespace quorvi::mcp {

using Json = nlohmann::json;

// Empties `value` from the leaves up, so that no array or object is destroyed with members in
// it: the library's destructor would allocate a work stack for them, and an allocation that
// fails in a destructor ends the process. The nesting limit bounds the recursion.
void release(Json& value) noexcept;

// Owns a parsed value, which may be a tree of millions of small values, and frees it with
// `release` whatever way it goes.
class Parsed {
 public:
  Parsed() = default;
  explicit Parsed(Json value) noexcept : value_(std::move(value)) {}
  Parsed(Parsed&& other) noexcept : value_(std::move(other.value_)) {}
  Parsed& operator=(Parsed&& other) noexcept {
    release(value_);
    value_ = std::move(other.value_);
    return *this;
  }
  ~Parsed() { release(value_); }

  Json& operator*() { return value_; }
  const Json& operator*() const { return value_; }
  Json* operator->() { return &value_; }
  const Json* operator->() const { return &value_; }

 private:
  Json value_;
};

// Exactly one value with optional JSON white space around it. Refuses trailing bytes, invalid
// UTF-8, numbers beyond a double, and a 128th level of nesting (refused before it is built).
// "-0" becomes the double -0.0; other integers are int64 (negative) or uint64.
std::optional<Parsed> parse(std::string_view text);

// Compact form, appended to `out`: no white space; doubles in the shortest form that reads
// back the same, with ".0" kept on integral values.
void write(const Json& value, std::string& out);
std::string write(const Json& value);
// The number of bytes `write` appends for `value`, without writing them.
size_t written_size(const Json& value);

// One string made of `pieces`, quoted and escaped, appended to `out`; and the size of that.
void write_string(std::initializer_list<std::string_view> pieces, std::string& out);
inline void write_string(std::string_view text, std::string& out) {
  write_string({text}, out);
}
size_t written_string_size(std::initializer_list<std::string_view> pieces);

// Pretty form (help all): two spaces per level, one element or member per line.
std::string write_pretty(const Json& value);

}  // namespace quorvi::mcp
