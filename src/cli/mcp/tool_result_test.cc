#include "cli/mcp/tool_result.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/utf8.h"

namespace quorvi::mcp {
namespace {

// A success carries S = {"result":V} as text and as structuredContent while both fit in the
// line's share for a tool result; then the text alone; then structuredContent with a note; then
// only a note. V here is a string of `count` copies of one byte: a quotation mark is written as
// two bytes in V and four in the text form, so each form's edge is reached.
TEST(ToolResult, EachFormUpToItsEdge) {
  struct Row {
    char byte;
    size_t count;
    const char* form;
  };
  const Row rows[] = {
      {'a', 0, "both"},
      {'a', 4718539, "both"},  // written: exactly 9 MiB
      {'a', 4718540, "text"},
      {'a', 9437112, "text"},
      {'a', 9437113, "too large"},
      {'"', 1572846, "both"},
      {'"', 1572847, "text"},
      {'"', 2359278, "text"},
      {'"', 2359279, "structured"},
      {'"', 4718520, "structured"},
      {'"', 4718521, "too large"},
  };
  for (const Row& row : rows) {
    const Json value(std::string(row.count, row.byte));
    const std::string structured = write(Json::object({{"result", value}}));
    Json result = tool_result(Prewritten(value));
    const std::string written = write(result);
    SCOPED_TRACE(std::string(1, row.byte) + " x " + std::to_string(row.count));
    EXPECT_EQ(written.size(), written_size(result));
    EXPECT_LE(written.size(), kMaxToolResult);
    std::optional<Json> back = parse(written);
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)["isError"], false);
    const Json& text = (*back)["content"][0]["text"];
    const std::string size = std::to_string(structured.size());
    std::string form = back->contains("structuredContent") ? "structured" : "text";
    if (back->contains("structuredContent")) {
      EXPECT_EQ(write((*back)["structuredContent"]), structured);
      if (text == structured) {
        form = "both";
      } else {
        EXPECT_EQ(text, "The result is in structuredContent only (" + size + " bytes)");
      }
    } else if (text != structured) {
      form = "too large";
      EXPECT_EQ(text, "The result of " + size + " bytes is too large to send");
    }
    EXPECT_EQ(form, row.form);
  }
}

// A failure is its message as an error, cut to fit (where a character begins) when it is far
// too long.
TEST(ToolResult, FailuresKeepTheirMessage) {
  const std::pair<std::string, std::string> rows[] = {
      {"Note not found", "Note not found"},
      {std::string(10u << 20, 'x'), std::string(kMaxToolResult / 6 - 64, 'x') + "..."},
      {"a" + std::string(6u << 20, '\n'), "a" + std::string(kMaxToolResult / 6 - 65, '\n') + "..."},
  };
  for (const auto& [message, shown] : rows) {
    Json result = tool_result(fail(message));
    EXPECT_LE(written_size(result), kMaxToolResult);
    EXPECT_EQ(result["isError"], true);
    const std::string& text = result["content"][0]["text"].get_ref<const std::string&>();
    EXPECT_EQ(text, shown);
  }
  std::string accents;
  for (int i = 0; i < (5 << 20); ++i)
    accents += "\xC3\xA9";
  Json result = tool_result(fail("x" + accents));
  const std::string& text = result["content"][0]["text"].get_ref<const std::string&>();
  EXPECT_TRUE(valid_utf8(text));
  EXPECT_TRUE(text.ends_with("\xC3\xA9..."));
}

}  // namespace
}  // namespace quorvi::mcp
