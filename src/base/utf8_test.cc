#include "base/utf8.h"

#include <gtest/gtest.h>

#include <utility>

namespace quorvi {
namespace {

TEST(Utf8, Rows) {
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

}  // namespace
}  // namespace quorvi
