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

// Like parse, for a large value of which only some members of the root object are wanted: a
// root object keeps only the members named in `wanted`, those that are arrays or objects held
// prewritten (see below), and a root array is held prewritten whole. The value then takes
// about the size of its text however many small values it holds.
std::optional<Json> parse_members(std::string_view text,
                                  std::initializer_list<std::string_view> wanted);

// Compact form, appended to `out`: no white space; doubles in the shortest form that reads
// back the same, with ".0" kept on integral values.
void write(const Json& value, std::string& out);
std::string write(const Json& value);

// A value that `write` reproduces as the compact text of `value`, held as that text (a binary
// value, which no text can make parse produce; parse_members makes one only of text it wrote
// itself). For constant answers: copying text is far cheaper than
// copying the tree it was written from.
Json prewritten(const Json& value);

// Pretty form (help all): two spaces per level, one element or member per line.
std::string write_pretty(const Json& value);

// True when `text` is well-formed UTF-8 (no overlongs, surrogates or code points past U+10FFFF).
bool valid_utf8(std::string_view text);

}  // namespace quorvi::mcp
