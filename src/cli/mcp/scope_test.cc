#include "cli/mcp/scope.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvi::mcp {
namespace {

// Reading the variables, and refusing them when they are not UTF-8, is seen end to end
// (tests/cli_test.cc).
TEST(Scope, NormalizedTagRows) {
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"Work, #Personal\n##Later##", {"work", "personal", "later"}},
      {"a,,b,", {"a", "b"}},
      {" # ## \t,#,##", {}},
      {"# work", {" work"}},  // white space goes first, so none is left after the "#"
      {"a\r\nb;c", {"a", "b;c"}},
      {"Work,work", {"work", "work"}},
      {"\xC4\xB0stanbul", {"i\xCC\x87stanbul"}},                                   // U+0130
      {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", {"\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"}},  // final sigma
      {"\xCE\xA3\xCE\x91", {"\xCF\x83\xCE\xB1"}},           // a sigma that is not final
      {"\xC2\xA0tag\xE3\x80\x80,\xC2\x85x", {"tag", "x"}},  // U+00A0, U+3000, U+0085
      {"a\xE2\x80\x8B", {"a\xE2\x80\x8B"}},                 // U+200B is not White_Space
      {"\xFF", {}},
  };
  for (const auto& [text, tags] : rows)
    EXPECT_EQ(normalize_tags(text), tags) << text;
}

}  // namespace
}  // namespace quorvi::mcp
