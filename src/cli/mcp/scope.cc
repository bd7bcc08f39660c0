#include "cli/mcp/scope.h"

#include <stdlib.h>
#include <unicase.h>
#include <unictype.h>
#include <unistr.h>

#include <memory>

#include "base/utf8.h"

namespace quorvi::mcp {
namespace {

const uint8_t* bytes_of(std::string_view text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// Removes characters with the White_Space property from both ends of valid UTF-8 text.
std::string_view trim_white_space(std::string_view text) {
  while (!text.empty()) {
    ucs4_t c;
    int length = u8_mbtouc(&c, bytes_of(text), text.size());
    if (!uc_is_property_white_space(c)) break;
    text.remove_prefix(static_cast<size_t>(length));
  }
  while (!text.empty()) {
    ucs4_t c;
    const uint8_t* end = bytes_of(text) + text.size();
    const uint8_t* last = u8_prev(&c, end, bytes_of(text));
    if (last == nullptr || !uc_is_property_white_space(c)) break;
    text.remove_suffix(static_cast<size_t>(end - last));
  }
  return text;
}

std::string_view trim_hashes(std::string_view text) {
  while (text.starts_with('#'))
    text.remove_prefix(1);
  while (text.ends_with('#'))
    text.remove_suffix(1);
  return text;
}

// The full lower-case mapping with no language rules (so final sigma, and U+0130 becomes "i"
// and a combining dot). Should the library fail (out of memory), the tag is kept as written
// rather than dropped, since dropping a tag could widen what the app shows.
std::string lower_case(std::string_view text) {
  size_t length = 0;
  std::unique_ptr<uint8_t, decltype(&::free)> lowered(
      u8_tolower(bytes_of(text), text.size(), nullptr, nullptr, nullptr, &length), &::free);
  if (!lowered) return std::string(text);
  return std::string(reinterpret_cast<const char*>(lowered.get()), length);
}

// Unset gives no tags; set but not UTF-8 is refused, so that a mistyped scope never turns
// into no scope at all.
[[nodiscard]] Outcome<Json> tags_from(const char* variable, const char* refusal) {
  const char* value = ::getenv(variable);
  if (value == nullptr) return Json::array();
  std::string_view text(value);
  if (!valid_utf8(text)) return fail(refusal);
  Json tags = Json::array();
  for (std::string& tag : normalize_tags(text))
    tags.push_back(std::move(tag));
  return tags;
}

}  // namespace

std::vector<std::string> normalize_tags(std::string_view text) {
  std::vector<std::string> tags;
  if (!valid_utf8(text)) return tags;
  for (;;) {
    size_t separator = text.find_first_of(",\n");
    std::string_view piece = trim_hashes(trim_white_space(text.substr(0, separator)));
    // White space is trimmed only before the "#" marks (so "# work" keeps its space), but a
    // piece made of nothing else, such as "# #", is no tag.
    if (!trim_white_space(piece).empty()) tags.push_back(lower_case(piece));
    if (separator == std::string_view::npos) break;
    text.remove_prefix(separator + 1);
  }
  return tags;
}

Outcome<Json> scope() {
  Outcome<Json> only = tags_from("QUORVI_ONLY_TAGS", "Invalid QUORVI_ONLY_TAGS");
  if (failed(only)) return only;
  Outcome<Json> exclude = tags_from("QUORVI_EXCLUDE_TAGS", "Invalid QUORVI_EXCLUDE_TAGS");
  if (failed(exclude)) return exclude;
  Json result = Json::object();
  result["excludeTags"] = std::move(value_of(exclude));
  result["onlyTags"] = std::move(value_of(only));
  return result;
}

}  // namespace quorvi::mcp
