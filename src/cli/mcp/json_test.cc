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
  for (const auto& [in, out] : rows)
    EXPECT_EQ(write(parse(in).value_or(Json("refused"))), out) << in;
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

// Prewritten text is copied as it is, or as one string; a repeat copies the last such string.
TEST(Json, PrewrittenTextAndItsSize) {
  const std::pair<Json, std::string> rows[] = {
      {Json::array({prewritten_text({"{\"b\":", "[1]}"}), 2}), R"([{"b":[1]},2])"},
      {Json::object({{"a", prewritten_string({R"({"x":"\n")", "}"})}, {"b", repeat_text()}}),
       R"({"a":"{\"x\":\"\\n\"}","b":{"x":"\n"}})"},
      {Json::array({repeat_text(), prewritten_string({"1"}), unquoted(prewritten_string({"2"})),
                    repeat_text()}),
       R"([,"1",2,1])"},
      {Json::object({{"k\x01", {"\"\\\b\f\n\r\t\x1f", 1.5, -3, true, nullptr}}}),
       R"({"k\u0001":["\"\\\b\f\n\r\t\u001f",1.5,-3,true,null]})"},
  };
  for (const auto& [value, text] : rows) {
    EXPECT_EQ(write(value), text);
    EXPECT_EQ(written_size(value), text.size()) << text;
  }
}

}  // namespace
}  // namespace quorvi::mcp
