#include "main/url.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "quorvi_cli/encode.h"
#include "row_name.h"

namespace quorvi {
namespace {

constexpr char kUsage[] =
    "Usage: quorvi [--callback URL] "
    "new|search|open|append|prepend|replace|trash|archive|pin|notes|tags|scratchpad [arguments]";
constexpr char kNoToken[] = "Set QUORVI_API_TOKEN from Quorvi Settings \xE2\x86\x92 Automation";

// The words, the token (nullptr: unset), and the URL after "quorvi://x-callback-url/", or the
// refusal's message.
struct Row {
  std::vector<std::string> args;
  const char* token;
  std::string url;
  std::string refusal = "";
} const kRows[] = {
    {{"new"}, "t", "create?text=%23%20"},
    {{"new", ""}, nullptr, "create?text="},
    {{"search"}, nullptr, "search?term="},
    {{"open", "A", "--callback", "done:1"}, nullptr, "open-note?x-success=done%3A1&id=A"},
    {{"append", "A", "x y"}, "T&", "add-text?id=A&text=x%20y&mode=append&token=T%26"},
    {{"prepend", "A", "x"}, "t", "add-text?id=A&text=x&mode=prepend&token=t"},
    {{"replace", "A", "x"}, "t", "add-text?id=A&text=x&mode=replace&token=t"},
    {{"trash", "A", "--undo"}, "t", "trash?id=A&value=false&token=t"},
    {{"archive", "A"}, "t", "archive?id=A&token=t"},
    {{"notes"}, "t", "notes?term=&token=t"},
    {{"tags"}, "a b\xC3\xA9", "tags?token=a%20b%C3%A9"},
    {{"scratchpad"}, nullptr, "scratchpad"},
    {{"scratchpad", "2+2"}, nullptr, "scratchpad?text=2%2B2"},
    {{"--callback", "cb", "--undo", "pin", "A"}, "t", "pin?x-success=cb&id=A&value=false&token=t"},
    {{"--callback", "--undo", "pin", "A"}, "t", "pin?x-success=--undo&id=A&token=t"},
    {{"--undo", "pin", "--undo"}, "t", "pin?id=--undo&value=false&token=t"},
    {{}, "t", "", kUsage},
    {{"--callback"}, "t", "", "--callback requires a URL"},
    {{"--callback", "a", "--callback", "b", "new"}, "t", "", "Unknown command: --callback"},
    {{"New"}, "t", "", "Unknown command: New"},
    {{"append", "A"}, "t", "", "Missing argument for append"},
    {{"pin"}, nullptr, "", "Missing argument for pin"},
    {{"tags", "x"}, "t", "", "Unexpected extra arguments"},
    {{"--undo", "new", "a", "b"}, "t", "", "Unexpected extra arguments"},
    {{"--undo", "tags"}, "t", "", "--undo applies to trash, archive, or pin"},
    {{"pin", "A"}, nullptr, "", kNoToken},
    {{"notes"}, "", "", kNoToken},
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << testing::PrintToString(row.args);
}

class UrlRow : public testing::TestWithParam<Row> {};

TEST_P(UrlRow, OpensOrRefuses) {
  const Row& row = GetParam();
  auto token = row.token ? std::optional<std::string>(row.token) : std::nullopt;
  Outcome<std::string> got = url(row.args, token);
  EXPECT_EQ(failed(got) ? "refused: " + message_of(got) : value_of(got),
            row.refusal.empty() ? "quorvi://x-callback-url/" + row.url : "refused: " + row.refusal);
}

INSTANTIATE_TEST_SUITE_P(Url, UrlRow, testing::ValuesIn(kRows), test::row_name<Row>);

TEST(Url, EncodingKeepsOnlyUnreservedBytes) {
  EXPECT_EQ(encode(std::string("AZaz09-._~ !*'()/?#[]@\0\x1F\x7F\xFF", 26)),
            "AZaz09-._~%20%21%2A%27%28%29%2F%3F%23%5B%5D%40%00%1F%7F%FF");
}

}  // namespace
}  // namespace quorvi
