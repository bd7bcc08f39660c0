#include "cli/mcp/tool_result.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvi::mcp {
namespace {

// The result member of the response line written for `outcome`, which must be one line of JSON.
Json result_of(ConnectorResult outcome) {
  std::string line;
  write_tool_response(Json(7), std::move(outcome), false, line);
  EXPECT_TRUE(line.ends_with('\n') && line.find('\n') == line.size() - 1);
  std::optional<Parsed> response = parse(line);
  if (!response) return "not JSON";
  return (**response)["result"];
}

// The whole line, both forms of a small answer, in each revision: members in byte order of their
// names, the stateless revision's marks among them.
TEST(ToolResult, LineInEachRevision) {
  const std::string content = R"("content":[{"text":"{\"result\":[1]}","type":"text"}],)";
  const std::pair<bool, std::string> rows[] = {
      {false, R"({"id":"s","jsonrpc":"2.0","result":{)" + content +
                  R"("isError":false,"structuredContent":{"result":[1]}}})"},
      {true, R"({"id":"s","jsonrpc":"2.0","result":{"_meta":{"io.modelcontextprotocol/)"
             R"(serverInfo":{"name":"Quorvi","version":"0.11.0"}},)" +
                 content +
                 R"("isError":false,"resultType":"complete",)"
                 R"("structuredContent":{"result":[1]}}})"},
  };
  for (const auto& [stateless, expected] : rows) {
    std::string line;
    write_tool_response(Json("s"), Prewritten(Json::array({1})), stateless, line);
    EXPECT_EQ(line, expected + "\n");
  }
}

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
  // Each form's last size (written: exactly 9 MiB), and the next one.
  const Row rows[] = {
      {'a', 4718539, "both"},       {'a', 4718540, "text"},        // both forms
      {'"', 2359278, "text"},       {'"', 2359279, "structured"},  // the text alone
      {'"', 4718520, "structured"}, {'"', 4718521, "too large"},   // structuredContent alone
  };
  for (const Row& row : rows) {
    const Json value(std::string(row.count, row.byte));
    const std::string structured = write(Json::object({{"result", value}}));
    const std::string size = std::to_string(structured.size());
    SCOPED_TRACE(std::string(1, row.byte) + " x " + std::to_string(row.count));
    const Json result = result_of(Prewritten(value));
    EXPECT_LE(written_size(result), kMaxToolResult);
    EXPECT_EQ(result["isError"], false);
    const Json& text = result["content"][0]["text"];
    const bool with_structured = result.contains("structuredContent");
    if (with_structured) {
      EXPECT_EQ(write(result["structuredContent"]), structured);
    }
    std::string form = "other: " + write(text).substr(0, 100);
    if (text == structured) form = with_structured ? "both" : "text";
    if (with_structured && text == "The result is in structuredContent only (" + size + " bytes)")
      form = "structured";
    if (!with_structured && text == "The result of " + size + " bytes is too large to send")
      form = "too large";
    EXPECT_EQ(form, row.form);
  }
}

// A failure is its message as an error: whole while it is written in at most 9 MiB less 64
// bytes, else cut to its first 1,572,800 bytes (where a character begins) and "...".
TEST(ToolResult, FailuresKeepTheirMessage) {
  const size_t kept = 1572800;
  std::string accents;
  for (int i = 0; i < (5 << 20); ++i)
    accents += "\xC3\xA9";
  const std::pair<std::string, std::string> rows[] = {
      {std::string(9437118, 'a'), std::string(9437118, 'a')},  // 9,437,120 bytes with its quotes
      {std::string(9437119, 'a'), std::string(kept, 'a') + "..."},
      {"a" + std::string(6u << 20, '\n'), "a" + std::string(kept - 1, '\n') + "..."},
      {"x" + accents, "x" + accents.substr(0, kept - 2) + "..."},  // not in the middle of an é
  };
  for (const auto& [message, shown] : rows) {
    Json result = result_of(fail(message));
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(result["content"][0]["text"], shown);
  }
}

}  // namespace
}  // namespace quorvi::mcp
