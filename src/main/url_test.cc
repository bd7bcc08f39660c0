#include "main/url.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace quorvi {
namespace {

const std::string kBase = "quorvi://x-callback-url/";
const std::string kNoToken = "Set QUORVI_API_TOKEN from Quorvi Settings \xE2\x86\x92 Automation";

struct Case {
  std::vector<std::string> args;
  std::string expected;  // the URL, or the message when `refused`
  bool refused = false;
};

void check(const std::vector<Case>& cases, const std::optional<std::string>& token) {
  for (const Case& c : cases) {
    std::string line;
    for (const auto& word : c.args)
      line += "[" + word + "]";
    Outcome<std::string> got = url(c.args, token);
    if (c.refused) {
      ASSERT_TRUE(failed(got)) << line << " gave " << value_of(got);
      EXPECT_EQ(message_of(got), c.expected) << line;
    } else {
      ASSERT_FALSE(failed(got)) << line << " refused: " << message_of(got);
      EXPECT_EQ(value_of(got), c.expected) << line;
    }
  }
}

TEST(Url, EveryCommand) {
  check(
      {
          {{"new", "Hello world"}, kBase + "create?text=Hello%20world"},
          {{"search", "a b"}, kBase + "search?term=a%20b"},
          {{"open", "ABC"}, kBase + "open-note?id=ABC"},
          {{"append", "ABC", "x y"}, kBase + "add-text?id=ABC&text=x%20y&mode=append&token=T%26"},
          {{"prepend", "ABC", "x"}, kBase + "add-text?id=ABC&text=x&mode=prepend&token=T%26"},
          {{"replace", "ABC", "x"}, kBase + "add-text?id=ABC&text=x&mode=replace&token=T%26"},
          {{"trash", "ABC"}, kBase + "trash?id=ABC&token=T%26"},
          {{"archive", "ABC"}, kBase + "archive?id=ABC&token=T%26"},
          {{"pin", "ABC"}, kBase + "pin?id=ABC&token=T%26"},
          {{"notes", "work"}, kBase + "notes?term=work&token=T%26"},
          {{"notes"}, kBase + "notes?term=&token=T%26"},
          {{"tags"}, kBase + "tags?token=T%26"},
          {{"scratchpad", "2+2"}, kBase + "scratchpad?text=2%2B2"},
      },
      "T&");
}

// The examples table of the callback-URL commands, token set unless the row says otherwise.
TEST(Url, Examples) {
  check(
      {
          {{"new"}, kBase + "create?text=%23%20"},
          {{"new", ""}, kBase + "create?text="},
          {{"search"}, kBase + "search?term="},
          {{"scratchpad"}, kBase + "scratchpad"},
          {{"scratchpad", "2+2"}, kBase + "scratchpad?text=2%2B2"},
          {{"open", "ABC", "--callback", "done:1"}, kBase + "open-note?x-success=done%3A1&id=ABC"},
          {{"--undo", "pin", "ABC"}, kBase + "pin?id=ABC&value=false&token=tok"},
          {{"append", "ABC"}, "Missing argument for append", true},
          {{"tags", "x"}, "Unexpected extra arguments", true},
          {{"new", "x", "--undo"}, "--undo applies to trash, archive, or pin", true},
          {{"--undo", "append"}, "Missing argument for append", true},
          {{"new", "x", "--callback"}, "--callback requires a URL", true},
          {{"--callback", "x"}, kUrlUsage, true},
          {{"--callback", "a", "--callback", "b", "new"}, "Unknown command: --callback", true},
          {{"--callback", "--undo", "pin", "ABC"}, kBase + "pin?x-success=--undo&id=ABC&token=tok"},
      },
      "tok");
  check({{{"pin", "ABC"}, kNoToken, true}, {{"pin"}, "Missing argument for pin", true}},
        std::nullopt);
  check({{{"pin", "ABC"}, kNoToken, true}}, "");
}

TEST(Url, Refusals) {
  check(
      {
          {{}, kUrlUsage, true},
          {{"--undo"}, kUrlUsage, true},
          {{"--callback"}, "--callback requires a URL", true},
          {{"New"}, "Unknown command: New", true},
          {{"help", "all"}, "Unknown command: help", true},
          {{"--callback=x", "new"}, "Unknown command: --callback=x", true},
          {{""}, "Unknown command: ", true},
          {{"open"}, "Missing argument for open", true},
          {{"replace"}, "Missing argument for replace", true},
          {{"trash"}, "Missing argument for trash", true},
          {{"open", "A", "B"}, "Unexpected extra arguments", true},
          {{"append", "A", "B", "C"}, "Unexpected extra arguments", true},
          {{"new", "a", "b"}, "Unexpected extra arguments", true},
          {{"scratchpad", "1", "2"}, "Unexpected extra arguments", true},
          // Extra words are refused before the undo rule and the token.
          {{"--undo", "new", "a", "b"}, "Unexpected extra arguments", true},
          {{"--undo", "open", "A"}, "--undo applies to trash, archive, or pin", true},
          {{"--undo", "tags"}, "--undo applies to trash, archive, or pin", true},
          // A second --undo is an ordinary word.
          {{"--undo", "pin", "--undo"}, kBase + "pin?id=--undo&value=false&token=t"},
          {{"--undo", "pin", "A", "--undo"}, "Unexpected extra arguments", true},
      },
      "t");
}

// Options may stand anywhere; the positional words are read after they are removed.
TEST(Url, OptionPositions) {
  const std::string pin = kBase + "pin?x-success=cb&id=A&value=false&token=t";
  check(
      {
          {{"--callback", "cb", "--undo", "pin", "A"}, pin},
          {{"--undo", "--callback", "cb", "pin", "A"}, pin},
          {{"pin", "--callback", "cb", "A", "--undo"}, pin},
          {{"pin", "A", "--undo", "--callback", "cb"}, pin},
          {{"--callback", "new", "new"}, kBase + "create?x-success=new&text=%23%20"},
          {{"new", "--callback", "--callback", "--callback"},
           kBase + "create?x-success=--callback&text=--callback"},
          {{"append", "A", "--callback", "x://y?a=b&c", "text"},
           kBase + "add-text?x-success=x%3A%2F%2Fy%3Fa%3Db%26c&id=A&text=text&mode=append&token=t"},
          {{"new", "-h"}, kBase + "create?text=-h"},
      },
      "t");
}

TEST(Url, Token) {
  // Actions that never carry the token ignore it, set or not.
  for (const std::optional<std::string>& token : {std::optional<std::string>{}, {""}, {"t"}}) {
    check(
        {
            {{"new", "x"}, kBase + "create?text=x"},
            {{"search"}, kBase + "search?term="},
            {{"open", "A"}, kBase + "open-note?id=A"},
            {{"scratchpad"}, kBase + "scratchpad"},
        },
        token);
  }
  for (const std::optional<std::string>& token : {std::optional<std::string>{}, {""}}) {
    check(
        {
            {{"append", "A", "x"}, kNoToken, true},
            {{"trash", "A"}, kNoToken, true},
            {{"archive", "A", "--undo"}, kNoToken, true},
            {{"notes"}, kNoToken, true},
            {{"tags"}, kNoToken, true},
        },
        token);
  }
  check({{{"tags"}, kBase + "tags?token=a%20b%C3%A9"}}, "a b\xC3\xA9");
}

TEST(Url, ApiToken) {
  ::unsetenv("QUORVI_API_TOKEN");
  EXPECT_EQ(api_token(), std::nullopt);
  ::setenv("QUORVI_API_TOKEN", "", 1);
  EXPECT_EQ(api_token(), std::optional<std::string>(""));
  ::setenv("QUORVI_API_TOKEN", "abc\xC3\xA9", 1);
  EXPECT_EQ(api_token(), std::optional<std::string>("abc\xC3\xA9"));
  ::setenv("QUORVI_API_TOKEN", "abc\xC3", 1);
  EXPECT_EQ(api_token(), std::nullopt);
  ::unsetenv("QUORVI_API_TOKEN");
}

}  // namespace
}  // namespace quorvi
