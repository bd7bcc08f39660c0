#include "cli/mcp/scope.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/mcp/env_guard_test.h"

namespace quorvi::mcp {
namespace {

TEST(ScopeTest, NormalizesTags) {
  struct Case {
    std::string text;
    std::vector<std::string> tags;
  } cases[] = {
      {"Work, #Personal\n##Later##", {"work", "personal", "later"}},
      {"a,,b,", {"a", "b"}},
      {",\n,", {}},
      {"#", {}},
      {" # ## \t,#,##", {}},
      {"# #, #\xE3\x80\x80#", {}},  // blank between the marks is no tag either
      {"# work", {" work"}},        // white space goes first, so none is left after the "#"
      {"to do", {"to do"}},
      {"a\r\nb", {"a", "b"}},
      {"a;b", {"a;b"}},
      {"Work,work", {"work", "work"}},
      {"\xC3\x89T\xC3\x89", {"\xC3\xA9t\xC3\xA9"}},                                // ÉTÉ
      {"\xC4\xB0stanbul", {"i\xCC\x87stanbul"}},                                   // U+0130
      {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", {"\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"}},  // ΟΔΟΣ
      {"\xCE\xA3\xCE\x91", {"\xCF\x83\xCE\xB1"}},       // a sigma that is not final
      {"\xE3\x80\x80tag\xE3\x80\x80", {"tag"}},         // U+3000
      {"\xC2\xA0tag\xC2\xA0,\xC2\x85x", {"tag", "x"}},  // U+00A0, U+0085
      {"STRASSE\xE2\x80\x83", {"strasse"}},             // U+2003
      {"a\xE2\x80\x8B", {"a\xE2\x80\x8B"}},             // U+200B is not White_Space
      {"", {}},
      {"\xFF", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(normalize_tags(c.text), c.tags) << c.text;
}

TEST(ScopeTest, ReadsBothVariablesIntoOneObject) {
  EnvGuard only("QUORVI_ONLY_TAGS", "Work, #Personal");
  EnvGuard exclude("QUORVI_EXCLUDE_TAGS", std::nullopt);
  Outcome<Json> got = scope();
  ASSERT_FALSE(failed(got)) << message_of(got);
  EXPECT_EQ(write(value_of(got)), R"({"excludeTags":[],"onlyTags":["work","personal"]})");
}

TEST(ScopeTest, EmptyAndSeparatorOnlyVariablesGiveEmptyLists) {
  EnvGuard only("QUORVI_ONLY_TAGS", "");
  EnvGuard exclude("QUORVI_EXCLUDE_TAGS", " ,#,\n");
  Outcome<Json> got = scope();
  ASSERT_FALSE(failed(got)) << message_of(got);
  EXPECT_EQ(write(value_of(got)), R"({"excludeTags":[],"onlyTags":[]})");
}

// A scope that cannot be read must never become no scope at all.
TEST(ScopeTest, RefusesVariablesThatAreNotUtf8) {
  {
    EnvGuard only("QUORVI_ONLY_TAGS", "work,\xC3");
    EnvGuard exclude("QUORVI_EXCLUDE_TAGS", "x");
    Outcome<Json> got = scope();
    ASSERT_TRUE(failed(got));
    EXPECT_EQ(message_of(got), "Invalid QUORVI_ONLY_TAGS");
  }
  {
    EnvGuard only("QUORVI_ONLY_TAGS", "x");
    EnvGuard exclude("QUORVI_EXCLUDE_TAGS", "\xED\xA0\x80");  // a surrogate
    Outcome<Json> got = scope();
    ASSERT_TRUE(failed(got));
    EXPECT_EQ(message_of(got), "Invalid QUORVI_EXCLUDE_TAGS");
  }
}

}  // namespace
}  // namespace quorvi::mcp
