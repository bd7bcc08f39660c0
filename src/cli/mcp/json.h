// The one JSON value of the program: nlohmann::json (objects are std::map, so members keep
// ascending byte order) with our own strict parser front and our own writers.
#pragma once

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace quorvi::mcp {

using Json = nlohmann::json;

// Arrays and objects may nest this deep; one level more is a parse failure.
inline constexpr size_t kMaxJsonDepth = 127;

// Exactly one value with optional JSON white space around it. Refuses trailing bytes, invalid
// UTF-8, numbers beyond a double, and a 128th level of nesting (refused before it is built).
// "-0" becomes the double -0.0; other integers are int64 (negative) or uint64.
std::optional<Json> parse(std::string_view text);
// False for text that the library's parser would take but parse refuses before it: a leading
// byte-order mark, or a NUL byte anywhere. For other parsers over the same library.
bool acceptable_text(std::string_view text);

// Compact form, appended to `out`: no white space; doubles in the shortest form that reads
// back the same, with ".0" kept on integral values.
void write(const Json& value, std::string& out);
std::string write(const Json& value);
// The number of bytes `write` appends for `value`, without writing them.
size_t written_size(const Json& value);
// One string in compact form (quoted, escaped), appended to `out`.
void write_string(std::string_view text, std::string& out);

// Text that only `write` reads, held in a binary value (which parse never makes) so that a
// large or constant text is copied rather than rebuilt as a tree. `prewritten` and
// `prewritten_text` are written as the text itself (the first of the compact text of `value`);
// `prewritten_string` as one JSON string holding the text; `repeat_text` as the text of the last
// `prewritten_string` written before it by the same `write` call, so that one large text can
// appear twice in one message while held once. The pieces are joined.
Json prewritten(const Json& value);
Json prewritten_text(std::initializer_list<std::string_view> pieces);
Json prewritten_string(std::initializer_list<std::string_view> pieces);
Json repeat_text();
// A `prewritten_string` turned into a `prewritten_text` of the same text.
Json unquoted(Json prewritten_string);

// Empties `value` from the leaves up, so that no array or object is destroyed with members in
// it: the library's destructor would allocate a work stack for them, and an allocation that
// fails in a destructor ends the process. The parser's depth limit bounds the recursion.
void release(Json& value) noexcept;

// Releases a value when its scope ends, however it ends.
class ReleaseAtExit {
 public:
  explicit ReleaseAtExit(Json& value) : value_(value) {}
  ~ReleaseAtExit() { release(value_); }
  ReleaseAtExit(const ReleaseAtExit&) = delete;
  ReleaseAtExit& operator=(const ReleaseAtExit&) = delete;

 private:
  Json& value_;
};

// Pretty form (help all): two spaces per level, one element or member per line.
std::string write_pretty(const Json& value);

}  // namespace quorvi::mcp
