#include "cli/mcp/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>

namespace quorvi::mcp {
namespace {

std::string nested(size_t depth, char open, char close) {
  return std::string(depth, open) + std::string(depth, close);
}

TEST(JsonTest, RoundTripsCompactly) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"null", "null"},
      {" true\r\n", "true"},
      {"[1, -2, 3.5, \"x\"]", "[1,-2,3.5,\"x\"]"},
      {"{\"b\":1,\"a\":2,\"B\":3}", "{\"B\":3,\"a\":2,\"b\":1}"},  // byte order
      {"{\"a\":1,\"a\":2}", "{\"a\":2}"},                          // last duplicate wins
      {"-0", "-0.0"},
      {"[-0, 0, -0.0]", "[-0.0,0,-0.0]"},
      {"1e23", "1e+23"},
      {"1e+23", "1e+23"},
      {"1.0", "1.0"},
      {"10.0", "10.0"},
      {"1e1", "10.0"},
      {"0.1", "0.1"},
      {"18446744073709551615", "18446744073709551615"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"18446744073709551616", "18446744073709551616.0"},
      {"1e300", "1e+300"},
      {"\"\\u0000\\u001f\\b\\t\\n\\f\\r\\\"\\\\/\"", "\"\\u0000\\u001f\\b\\t\\n\\f\\r\\\"\\\\/\""},
      {"\"\\u007f\\u00e9\\ud83d\\ude00\"", "\"\x7f\xc3\xa9\xf0\x9f\x98\x80\""},
      {"{}", "{}"},
      {"[]", "[]"},
  };
  for (const auto& c : cases) {
    auto value = parse(c.in);
    ASSERT_TRUE(value) << c.in;
    EXPECT_EQ(write(*value), c.out) << c.in;
  }
}

TEST(JsonTest, NumberModel) {
  EXPECT_TRUE(parse("-0")->is_number_float());
  EXPECT_TRUE(std::signbit(parse("-0")->get<double>()));
  EXPECT_TRUE(parse("0")->is_number_unsigned());
  EXPECT_TRUE(parse("-1")->is_number_integer());
  EXPECT_TRUE(parse("10.0")->is_number_float());
  EXPECT_TRUE(parse("1e1")->is_number_float());
  EXPECT_TRUE(parse("-9223372036854775809")->is_number_float());
}

TEST(JsonTest, RefusesWhatIsNotExactlyOneValue) {
  const char* cases[] = {
      "",
      " ",
      "\n",
      "{} {}",
      "{}x",
      "[1,]",
      "{\"a\"}",
      "01",
      "1e400",
      "-1e400",
      "nan",
      "\"\xff\"",
      "\"\xc0\x80\"",
      "\"\xed\xa0\x80\"",
      "\"\\ud800\"",
      "\"a\tb\"",
      "'a'",
      "[1] 2",
      "{\"a\":1,}",
      "\xef\xbb\xbf{}",
  };
  for (const char* text : cases)
    EXPECT_FALSE(parse(text)) << text;
}

// The lexer underneath stops at a NUL byte; found by fuzzing (fuzz/corpus/json/nul-after-value).
TEST(JsonTest, RefusesNulBytesAnywhere) {
  using namespace std::string_view_literals;
  for (std::string_view text :
       {"[]\0,\xcd[][/"sv, "{}\0"sv, "1\0"sv, "\0"sv, " \0[]"sv, "\"a\"\0\"b\""sv, "[1\0]"sv}) {
    EXPECT_FALSE(parse(text)) << testing::PrintToString(std::string(text));
  }
}

TEST(JsonTest, NestingLimitIs127Levels) {
  EXPECT_TRUE(parse(nested(127, '[', ']')));
  EXPECT_FALSE(parse(nested(128, '[', ']')));
  std::string objects;
  for (int i = 0; i < 126; ++i)
    objects += "{\"a\":";
  objects += "[]" + std::string(126, '}');
  EXPECT_TRUE(parse(objects));
  objects = "[" + objects + "]";
  EXPECT_FALSE(parse(objects));
}

TEST(JsonTest, HugeNestingFailsWithoutBuildingIt) {
  // A 1 MiB line of "[" must fail at the 128th level, not recurse or allocate per level.
  EXPECT_FALSE(parse(std::string(1 << 20, '[')));
}

TEST(JsonTest, PrettyForm) {
  auto value = parse(R"({"b":[1,{"c":[],"d":{}}],"a":"x"})");
  ASSERT_TRUE(value);
  EXPECT_EQ(write_pretty(*value),
            "{\n"
            "  \"a\": \"x\",\n"
            "  \"b\": [\n"
            "    1,\n"
            "    {\n"
            "      \"c\": [],\n"
            "      \"d\": {}\n"
            "    }\n"
            "  ]\n"
            "}");
  EXPECT_EQ(write_pretty(Json::array()), "[]");
  EXPECT_EQ(write_pretty(Json(1.0)), "1.0");
}

TEST(JsonTest, ValidUtf8) {
  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain", true},
      {"\xc3\xa9", true},
      {"\xf4\x8f\xbf\xbf", true},
      {"\xc3", false},
      {"\xc0\xaf", false},
      {"\xe0\x80\xaf", false},
      {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false},
      {"\xff", false},
      {"\x80", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(valid_utf8(c.text), c.valid) << c.text;
}

TEST(JsonTest, PrewrittenValueWritesAsItsText) {
  std::optional<Json> value = parse(R"({"b":[1,-2,0.5,"x\n"],"a":{"c":null,"d":true}})");
  ASSERT_TRUE(value);
  EXPECT_EQ(write(prewritten(*value)), write(*value));
  Json outer = {{"id", 1}, {"result", prewritten(*value)}};
  EXPECT_EQ(write(outer), R"({"id":1,"result":)" + write(*value) + "}");
}

// Strings are scanned eight bytes at a time; an escape must be found wherever it falls.
TEST(JsonTest, EscapesAtEveryPositionOfLongStrings) {
  struct Case {
    char byte;
    std::string_view written;
  };
  const Case cases[] = {{'"', "\\\""},       {'\\', "\\\\"}, {'\n', "\\n"},    {'\x01', "\\u0001"},
                        {'\x1f', "\\u001f"}, {' ', " "},     {'\x7f', "\x7f"}, {'\xc3', "\xc3"}};
  for (const Case& c : cases) {
    for (size_t at = 0; at < 20; ++at) {
      std::string text(20, 'a');
      text[at] = c.byte;
      std::string expected = "\"";
      expected.append(at, 'a').append(c.written).append(19 - at, 'a').push_back('"');
      EXPECT_EQ(write(Json(text)), expected) << int(c.byte) << " at " << at;
    }
  }
  std::string tabs(16, 'x');
  EXPECT_EQ(write(Json(tabs + "\t\t")), "\"" + tabs + "\\t\\t\"");
}

}  // namespace
}  // namespace quorvi::mcp

namespace quorvi::mcp {
namespace {

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
      "-0",
  };
  for (const std::string& text : cases) {
    std::optional<Json> tree = parse(text);
    std::optional<Json> lean = parse_members(text, {"error", "result"});
    ASSERT_TRUE(tree && lean) << text;
    for (const char* unwanted : {"other", "skip"}) {
      if (tree->is_object()) tree->erase(unwanted);
    }
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
