#include "base/visible.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvi {
namespace {

std::string visible(std::string_view text) {
  std::string out;
  for_each_visible(text, [&](std::string_view piece) { out += piece; });
  return out;
}

// Controls of every range become escapes, bytes that are not UTF-8 too; printable text, other
// Unicode and the backslash stay as they are.
TEST(Visible, Rows) {
  const std::pair<std::string, std::string> rows[] = {
      {"Note locked", "Note locked"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {"\x1b[31mRED\x1b]0;T\x07", "\\u001b[31mRED\\u001b]0;T\\u0007"},
      {std::string("nul\0end", 7), "nul\\u0000end"},
      {"del\x7f", "del\\u007f"},
      {"\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0\xc3\xa9", "\\u0080\\u009b\\u009f\xc2\xa0\xc3\xa9"},
      {"\xe2\x86\x92 \xf0\x9f\x98\x80 \\x1b", "\xe2\x86\x92 \xf0\x9f\x98\x80 \\x1b"},
      {"\xff\xc3(\xed\xa0\x80", "\\xff\\xc3(\\xed\\xa0\\x80"},
  };
  for (const auto& [text, shown] : rows)
    EXPECT_EQ(visible(text), shown);
}

}  // namespace
}  // namespace quorvi
