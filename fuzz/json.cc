// The JSON layer: whatever parses must write, compact and pretty, to text that parses back to
// the same value.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "check.h"
#include "cli/mcp/json.h"
#include "cli/mcp/lean.h"

using quorvi::mcp::Json;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<Json> value = quorvi::mcp::parse(text);
  // The lean parse refuses what parse refuses, and writes what it keeps as the tree does.
  std::optional<quorvi::mcp::Members> lean = quorvi::mcp::parse_members(text, {"error", "result"});
  FUZZ_CHECK(lean.has_value() == value.has_value());
  if (!value) return 0;
  const char* names[] = {"error", "result"};
  for (size_t i = 0; i < 2; ++i) {
    bool present = value->is_object() && value->contains(names[i]);
    FUZZ_CHECK((*lean)[i].has_value() == present);
    if (present) FUZZ_CHECK((*lean)[i]->text() == quorvi::mcp::write((*value)[names[i]]));
  }
  // Parsing only accepts UTF-8, so the input must have been UTF-8.
  FUZZ_CHECK(quorvi::valid_utf8(text));

  std::string compact = quorvi::mcp::write(*value);
  FUZZ_CHECK(compact.find('\n') == std::string::npos);
  FUZZ_CHECK(quorvi::valid_utf8(compact));
  std::optional<Json> again = quorvi::mcp::parse(compact);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(quorvi::mcp::write(*again) == compact);

  std::string pretty = quorvi::mcp::write_pretty(*value);
  std::optional<Json> from_pretty = quorvi::mcp::parse(pretty);
  FUZZ_CHECK(from_pretty.has_value());
  FUZZ_CHECK(quorvi::mcp::write(*from_pretty) == compact);
  return 0;
}
