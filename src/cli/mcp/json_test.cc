#include "cli/mcp/json.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace quorvi::mcp {
namespace {

TEST(Json, RoundTripsCompactly) {
  const std::pair<const char*, const char*> rows[] = {
      {"{\"b\":1,\"a\":2,\"B\":3}", "{\"B\":3,\"a\":2,\"b\":1}"},  // byte order
      {"{\"a\":1,\"a\":2}", "{\"a\":2}"},                          // last duplicate wins
      {"[-0, 0, -0.0, 1.0, 1e1, 0.1, 1e23]", "[-0.0,0,-0.0,1.0,10.0,0.1,1e+23]"},
      {"[18446744073709551615, -9223372036854775808]",
       "[18446744073709551615,-9223372036854775808]"},
      {"18446744073709551616", "18446744073709551616.0"},
      {"\"\\u0000\\u001f\\b\\t\\n\\f\\r\\\"\\\\/\"", "\"\\u0000\\u001f\\b\\t\\n\\f\\r\\\"\\\\/\""}};
  for (const auto& [in, out] : rows) {
    std::optional<Parsed> parsed = parse(in);
    EXPECT_EQ(parsed ? write(**parsed) : "refused", out) << in;
  }
}

// Strings are scanned eight bytes at a time; an escape must be found wherever it falls.
TEST(Json, EscapesAtEveryPositionOfLongStrings) {
  const std::pair<char, std::string_view> rows[] = {
      {'"', "\\\""},       {'\\', "\\\\"}, {'\n', "\\n"},    {'\x01', "\\u0001"},
      {'\x1f', "\\u001f"}, {' ', " "},     {'\x7f', "\x7f"}, {'\xc3', "\xc3"}};
  for (const auto& [byte, written] : rows) {
    for (size_t at = 0; at < 20; ++at) {
      const std::string before(at, 'a'), after(19 - at, 'a');
      EXPECT_EQ(write(Json(before + byte + after)),
                "\"" + before + std::string(written) + after + '"')
          << int(byte) << " at " << at;
    }
  }
}

}  // namespace
}  // namespace quorvi::mcp
