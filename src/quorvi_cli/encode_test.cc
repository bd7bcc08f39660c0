#include "quorvi_cli/encode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quorvi {
namespace {

TEST(Encode, Examples) {
  struct Case {
    std::string text;
    std::string encoded;
  };
  const Case cases[] = {
      {"", ""},
      {"a b&c/\xC3\xA9", "a%20b%26c%2F%C3%A9"},
      {"-._~", "-._~"},
      {"AZaz09", "AZaz09"},
      {"100%", "100%25"},
      {"%20", "%2520"},
      {"2+2", "2%2B2"},
      {"# ", "%23%20"},
      {"done:1?x=y#z", "done%3A1%3Fx%3Dy%23z"},
      {std::string("a\0b", 3), "a%00b"},
      {"\x7F\xFF\n", "%7F%FF%0A"},
      {"\xE2\x86\x92", "%E2%86%92"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(encode(c.text), c.encoded) << c.text;
}

// Every byte outside the unreserved set is escaped; nothing else is.
TEST(Encode, EveryByte) {
  const std::string unreserved =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
  for (int value = 0; value < 256; ++value) {
    std::string byte(1, static_cast<char>(value));
    std::string got = encode(byte);
    if (unreserved.find(static_cast<char>(value)) != std::string::npos) {
      EXPECT_EQ(got, byte) << value;
    } else {
      char expected[4];
      std::snprintf(expected, sizeof expected, "%%%02X", value);
      EXPECT_EQ(got, expected) << value;
    }
  }
}

}  // namespace
}  // namespace quorvi
