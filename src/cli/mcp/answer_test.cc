#include "cli/mcp/lean.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvi::mcp {
namespace {

// Of the root object, each wanted member must be exactly the text the full tree gives, member
// order and duplicate rules included, however the members came.
TEST(Lean, ParseMembersWritesWhatTheTreeWrites) {
  std::string reversed = "{", nested = "0";
  for (int i = 999; i >= 0; --i)
    reversed += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + (i ? "," : "}");
  for (int i = 0; i < 125; ++i)
    nested = R"({"b":)" + nested + R"(,"a":)" + std::to_string(i) + "}";
  const std::string cases[] = {
      R"({"result":[{},[],{"b":1,"a":[true,null,-0,1e1,"x\u00e9\n"]},[[{}]]],"other":[1]})",
      R"({"result":{"b":{"y":1,"x":2,"y":3},"a":0,"b":{"z":[]},"\n":1,"\u007f":2,"\u00e9":3,"z":4}})",
      R"({"result":1,"result":{"k":"v"},"error":null})",
      R"({"error":["x"],"result":"s","skip":{"a":[1,2]}})",
      R"({"result":[)" + std::string(125, '[') + std::string(125, ']') + "]}",
      R"({"result":{"b":{"d":1,"c":2},"a":[{"z":1,"y":{"q":0,"p":0}}]}})",
      R"({"result":{"a\"":1,"\"":2,"\\":3,"\u0001":4,"\u001f":5," ":6,"!":7,"a":8,"\t":9,"":0}})",
      R"({"result":{"b":"x\"}y\\","a":"\\\"","c":[{"y":"]","x":"}"}]}})",
      R"({"result":{"a":1,"b":2,"a":3,"b":{"d":0,"c":0,"d":1}}})",
      R"({"result":)" + reversed + R"(,"error":"e"})",
      R"({"result":)" + nested + "}",
      R"( {"result" : [1E+2, -0.0e-0, 1e-400, 18446744073709551616, -9223372036854775809, 0.5] } )",
      R"({"result":"\/\u00e9\ud83d\ude00\u0000\b\f\r\t\"\\ \u001F\u007f","\u0072esult":1})",
      "\t\r\n{\"result\":[true,false,null,\"\xC3\xA9\"]}\n",
      "[{\"b\":1,\"a\":2},3]",
      "\"text\""};
  for (const std::string& text : cases) {
    std::optional<Json> tree = parse(text);
    std::optional<Members> lean = parse_members(text, {"error", "result"});
    ASSERT_TRUE(tree && lean) << text;
    for (size_t i = 0; i < 2; ++i) {
      const char* name = i ? "result" : "error";
      bool present = tree->is_object() && tree->contains(name);
      EXPECT_EQ((*lean)[i] ? (*lean)[i]->text() : "(absent)",
                present ? write((*tree)[name]) : "(absent)")
          << text;
    }
  }
  // Exactly one value of strict JSON, no byte-order mark, no NUL byte anywhere (the tree's lexer
  // stops at one: found by fuzzing), at most 127 levels deep.
  const std::string refused[] = {
      R"({"result":[1,]})",
      "{\"result\":[\"\xC3\"]}",
      "{\"result\":" + std::string(127, '[') + std::string(127, ']') + "}",
      std::string("[1]\0", 4),
      "",
      "[1 2]",
      R"({"a" 1})",
      R"({"a":1,})",
      "{\"result\":1e400}",
      "01",
      "-",
      "1.",
      ".5",
      "1e",
      "tru",
      "\"\\ud800\"",
      "\"\\udc00\"",
      "\"\\ud800\\u0041\"",
      "\"\\u12\"",
      "\"\\x\"",
      "\"a\tb\"",
      "\"\xff\"",
      "\"\xED\xA0\x80\"",
      "\"abc",
      "\xEF\xBB\xBF[]"};
  for (const std::string& text : refused)
    EXPECT_FALSE(parse(text) || parse_members(text, {"result"})) << text;
}

}  // namespace
}  // namespace quorvi::mcp
