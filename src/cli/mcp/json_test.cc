#include "cli/mcp/json.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quorvi::mcp {
namespace {

using namespace std::string_literals;

TEST(Json, RoundTripsCompactly) {
  const std::pair<const char*, const char*> rows[] = {
      {" true\r\n", "true"},
      {"{\"b\":1,\"a\":2,\"B\":3}", "{\"B\":3,\"a\":2,\"b\":1}"},  // byte order
      {"{\"a\":1,\"a\":2}", "{\"a\":2}"},                          // last duplicate wins
      {"[-0, 0, -0.0, 1.0, 1e1, 0.1, 1e23]", "[-0.0,0,-0.0,1.0,10.0,0.1,1e+23]"},
      {"[18446744073709551615, -9223372036854775808]",
       "[18446744073709551615,-9223372036854775808]"},
      {"18446744073709551616", "18446744073709551616.0"},
      {"\"\\u0000\\u001f\\b\\t\\n\\f\\r\\\"\\\\/\"", "\"\\u0000\\u001f\\b\\t\\n\\f\\r\\\"\\\\/\""},
      {"\"\\u007f\\u00e9\\ud83d\\ude00\"", "\"\x7f\xc3\xa9\xf0\x9f\x98\x80\""}};
  for (const auto& [in, out] : rows)
    EXPECT_EQ(write(parse(in).value_or(Json("refused"))), out) << in;
}

// Exactly one value of strict JSON, no byte-order mark, no NUL byte anywhere (the lexer
// underneath stops at one: found by fuzzing), at most 127 levels deep. Strictness beyond
// these rows is the lexer's own.
TEST(Json, RefusesWhatIsNotExactlyOneValue) {
  const std::string rows[] = {"",
                              "{} {}",
                              "[1,]",
                              "1e400",
                              "\"\xff\"",
                              "\"\\ud800\"",
                              "\xef\xbb\xbf{}",
                              "{}\0"s,
                              "[1\0]"s,
                              std::string(128, '[') + std::string(128, ']'),
                              std::string(1 << 20, '[')};
  for (const std::string& text : rows)
    EXPECT_FALSE(parse(text)) << testing::PrintToString(text.substr(0, 40));
  EXPECT_TRUE(parse(std::string(127, '[') + std::string(127, ']')));
}

TEST(Json, ValidUtf8) {
  const std::pair<const char*, bool> rows[] = {{"\xc3\xa9", true},
                                               {"\xf4\x8f\xbf\xbf", true},
                                               {"\xc3", false},
                                               {"\xc0\xaf", false},
                                               {"\xe0\x80\xaf", false},
                                               {"\xed\xa0\x80", false},
                                               {"\xf4\x90\x80\x80", false},
                                               {"\xff", false},
                                               {"\x80", false}};
  for (const auto& [text, valid] : rows)
    EXPECT_EQ(valid_utf8(text), valid) << text;
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

// The lean parse must give exactly the text the full tree gives, member order and duplicate
// rules included, and refuse exactly what parse refuses.
TEST(JsonTest, ParseMembersWritesWhatTheTreeWrites) {
  const std::string cases[] = {
      R"({"result":[{},[],{"b":1,"a":[true,null,-0,1e1,"x\u00e9\n"]},[[{}]]],"other":[1]})",
      R"({"result":{"b":{"y":1,"x":2,"y":3},"a":0,"b":{"z":[]},"\n":1,"\u007f":2,"\u00e9":3,"z":4}})",
      R"({"result":{"a":1,"a":2,"a":{}}})",
      R"({"result":1,"result":{"k":"v"},"error":null})",
      R"({"error":["x"],"result":"s","skip":{"a":[1,2]}})",
      R"({"result":[)" + std::string(125, '[') + std::string(125, ']') + "]}",
      "[{\"b\":1,\"a\":2},3]",
      "\"text\"",
      "-0"};
  for (const std::string& text : cases) {
    std::optional<Json> tree = parse(text);
    std::optional<Json> lean = parse_members(text, {"error", "result"});
    ASSERT_TRUE(tree && lean) << text;
    if (tree->is_object()) tree->erase("other"), tree->erase("skip");
    EXPECT_EQ(write(*lean), write(*tree)) << text;
  }
  const std::string refused[] = {
      R"({"result":[}")",
      R"({"result":[1,]})",
      "{\"result\":[\"\xC3\"]}",
      "{\"result\":" + std::string(127, '[') + std::string(127, ']') + "}",
      std::string("[1]\0", 4),
      "\xEF\xBB\xBF[]"};
  for (const std::string& text : refused)
    EXPECT_FALSE(parse(text) || parse_members(text, {"result"})) << text;
}

}  // namespace
}  // namespace quorvi::mcp
