// Tag-scope normalisation over valid UTF-8: every tag is non-empty UTF-8 with no separator and
// no "#" at either end, and there are never more tags than pieces.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "check.h"
#include "cli/mcp/json.h"
#include "cli/mcp/scope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!quorvi::valid_utf8(text)) return 0;
  std::vector<std::string> tags = quorvi::mcp::normalize_tags(text);
  size_t pieces = 1;
  for (char c : text)
    pieces += c == ',' || c == '\n';
  FUZZ_CHECK(tags.size() <= pieces);
  for (const std::string& tag : tags) {
    FUZZ_CHECK(!tag.empty());
    FUZZ_CHECK(quorvi::valid_utf8(tag));
    FUZZ_CHECK(tag.find(',') == std::string::npos && tag.find('\n') == std::string::npos);
    FUZZ_CHECK(tag.front() != '#' && tag.back() != '#');
  }
  return 0;
}
