#include "base/utf8.h"

#include <gtest/gtest.h>

namespace quorvi {
namespace {

// Accepted up to U+10FFFF; refused: a cut sequence, overlong forms, a surrogate, past U+10FFFF,
// bytes that never begin a character, and a third or fourth byte that does not continue one.
TEST(Utf8, Rows) {
  for (const char* text : {"\xc3\xa9", "\xf4\x8f\xbf\xbf"})
    EXPECT_TRUE(valid_utf8(text)) << text;
  for (const char* text : {"\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xf0\x80\x80\x80", "\xed\xa0\x80",
                           "\xf4\x90\x80\x80", "\xff", "\x80", "\xe2\x82(", "\xf0\x90\x8c("})
    EXPECT_FALSE(valid_utf8(text)) << text;
}

}  // namespace
}  // namespace quorvi
