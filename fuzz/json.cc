// The JSON layer against the library's own parser: our reader accepts exactly what the library
// accepts under our extra rules (no byte-order mark, no NUL byte, at most 127 levels), builds the
// same value, and the answer reader keeps what the tree holds. Whatever parses writes, compact
// and pretty, to text that parses back to the same value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "check.h"
#include "cli/mcp/answer.h"
#include "cli/mcp/json.h"

using quorvi::mcp::Json;

namespace {

// What the library makes of the text under our rules, or nothing.
std::optional<Json> library_parse(std::string_view text) {
  // The library skips a leading byte-order mark and stops at a NUL byte; JSON text has neither.
  if (text.starts_with("\xEF\xBB\xBF") || text.find('\0') != std::string_view::npos) return {};
  size_t deepest = 0;
  auto levels = [&deepest](int depth, Json::parse_event_t event, Json&) {
    if (event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start)
      deepest = std::max(deepest, static_cast<size_t>(depth) + 1);
    return true;
  };
  Json value = Json::parse(text.begin(), text.end(), levels, false);
  if (value.is_discarded() || deepest > quorvi::mcp::kMaxJsonDepth) return {};
  return value;
}

// "-0" is a double to us, an integer 0 to the library.
bool same(const Json& ours, const Json& theirs) {
  if (ours.is_number_float() && theirs.is_number_integer() && theirs == 0) return ours == 0.0;
  if (ours.is_array() && theirs.is_array()) {
    if (ours.size() != theirs.size()) return false;
    for (size_t i = 0; i < ours.size(); ++i)
      if (!same(ours[i], theirs[i])) return false;
    return true;
  }
  if (ours.is_object() && theirs.is_object()) {
    if (ours.size() != theirs.size()) return false;
    for (auto member = ours.begin(); member != ours.end(); ++member) {
      auto other = theirs.find(member.key());
      if (other == theirs.end() || !same(member.value(), *other)) return false;
    }
    return true;
  }
  return ours == theirs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<quorvi::mcp::Parsed> value = quorvi::mcp::parse(text);
  std::optional<Json> theirs = library_parse(text);
  FUZZ_CHECK(value.has_value() == theirs.has_value());
  // The answer reader refuses what parse refuses, and keeps what the tree holds.
  quorvi::Outcome<quorvi::mcp::Prewritten> answer = quorvi::mcp::read_answer(std::string(text));
  FUZZ_CHECK(quorvi::failed(answer) || value.has_value());
  if (!value) {
    FUZZ_CHECK(quorvi::message_of(answer) == "Invalid connector response");
    return 0;
  }
  const Json& tree = **value;
  FUZZ_CHECK(same(tree, *theirs));
  const bool error = tree.is_object() && tree.contains("error") && tree["error"].is_string();
  FUZZ_CHECK(quorvi::failed(answer) == error);
  if (error) {
    FUZZ_CHECK(quorvi::message_of(answer) == tree["error"].get<std::string>());
  } else {
    const bool present = tree.is_object() && tree.contains("result");
    FUZZ_CHECK(quorvi::value_of(answer).text() ==
               (present ? quorvi::mcp::write(tree["result"]) : "null"));
  }
  // Parsing only accepts UTF-8, so the input must have been UTF-8.
  FUZZ_CHECK(quorvi::valid_utf8(text));

  std::string compact = quorvi::mcp::write(tree);
  FUZZ_CHECK(compact.find('\n') == std::string::npos);
  FUZZ_CHECK(quorvi::valid_utf8(compact));
  FUZZ_CHECK(quorvi::mcp::written_size(tree) == compact.size());
  std::optional<quorvi::mcp::Parsed> again = quorvi::mcp::parse(compact);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(quorvi::mcp::write(**again) == compact);

  std::string pretty = quorvi::mcp::write_pretty(tree);
  std::optional<quorvi::mcp::Parsed> from_pretty = quorvi::mcp::parse(pretty);
  FUZZ_CHECK(from_pretty.has_value());
  FUZZ_CHECK(quorvi::mcp::write(**from_pretty) == compact);
  return 0;
}
