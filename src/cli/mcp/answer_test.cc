#include "cli/mcp/answer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvi::mcp {
namespace {

// What the full tree gives: the last "error" member's text when it is a string (as "!" and the
// message), else the compact text of the last "result" member, or null.
std::string from_tree(const Json& tree) {
  if (tree.is_object() && tree.contains("error") && tree["error"].is_string())
    return "!" + tree["error"].get<std::string>();
  return tree.is_object() && tree.contains("result") ? write(tree["result"]) : "null";
}

// An answer's message or result is exactly what the full tree gives, member order and duplicate
// rules included, however the members came.
TEST(Answer, ReadsWhatTheTreeGives) {
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
      R"({"result":1,"error":"Note not found"})",
      R"({"error":"caf\u00e9\n","result":1})",
      R"({"error":"first","error":7,"result":2})",
      R"({"error":7,"error":"last","result":{"a":[1,{"error":"inner"}]}})",
      R"({"error":{"error":"x"},"result":[{"result":0}]})",
      R"({"error":""})",
      R"({"result":[1],"result":[2,3]})",
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
    std::optional<Parsed> tree = parse(text);
    ASSERT_TRUE(tree) << text;
    Outcome<Prewritten> answer = read_answer(text);
    EXPECT_EQ(failed(answer) ? "!" + message_of(answer) : value_of(answer).text(),
              from_tree(**tree))
        << text;
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
      "\xEF\xBB\xBF[]",
      "\f[]",
      std::string("\"a\0\"", 4),
      "{\"result\":1}x"};
  for (const std::string& text : refused) {
    EXPECT_FALSE(parse(text)) << text;
    Outcome<Prewritten> answer = read_answer(text);
    EXPECT_EQ(failed(answer) ? message_of(answer) : "accepted", "Invalid connector response")
        << text;
  }
}

}  // namespace
}  // namespace quorvi::mcp
