#include "cli/mcp/bridge.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvi::mcp {
namespace {

TEST(BridgeTest, ResponseOutcome) {
  constexpr char kInvalid[] = "Invalid connector response";
  struct Case {
    std::string body;
    std::string result;             // compact JSON of the result, when accepted
    const char* message = nullptr;  // the failure, when refused
  } cases[] = {
      {R"({"result":{"b":1,"a":[true]}})", R"({"a":[true],"b":1})"},
      {R"({"result":1,"error":"Note not found"})", "", "Note not found"},
      {R"({"error":""})", "", ""},
      {R"({"error":"caf\u00e9\n"})", "", "caf\xC3\xA9\n"},
      {R"({"error":null,"result":42})", "42"},
      {R"({"error":{"text":"x"},"result":"ok"})", "\"ok\""},
      {R"({"error":7})", "null"},
      {R"({"other":1})", "null"},
      {"[1,2]", "null"},
      {"3", "null"},
      {"\"error\"", "null"},
      {" {\"result\":true} \r\n\t", "true"},
      {R"({"result":null})", "null"},
      {R"({"result":1.0})", "1.0"},
      {"{\"result\":1}x", "", kInvalid},
      {"{\"result\":1}{}", "", kInvalid},
      {"", "", kInvalid},
      {"not json", "", kInvalid},
      {std::string("{\"result\":\"\xC3\"}"), "", kInvalid},
      {std::string(128, '[') + std::string(128, ']'), "", kInvalid},
      {std::string(2, '\0'), "", kInvalid},
  };
  for (const Case& c : cases) {
    ConnectorResult got = response_outcome(c.body);
    if (c.message) {
      ASSERT_TRUE(failed(got)) << c.body;
      EXPECT_EQ(message_of(got), c.message) << c.body;
    } else {
      ASSERT_FALSE(failed(got)) << c.body << ": " << message_of(got);
      EXPECT_EQ(write(value_of(got)), c.result) << c.body;
    }
  }
  // 127 levels are still a response.
  ConnectorResult deep = response_outcome(std::string(127, '[') + std::string(127, ']'));
  EXPECT_FALSE(failed(deep));
}

TEST(BridgeTest, AppBundleFromExecutablePath) {
  constexpr char kDefault[] = "/Applications/Quorvi.app";
  struct Case {
    std::optional<std::string> executable;
    std::string app;
  } cases[] = {
      {"/Applications/Quorvi.app/Contents/MacOS/quorvi", "/Applications/Quorvi.app"},
      {"/Users/me/Apps/Other Name.app/Contents/MacOS/quorvi", "/Users/me/Apps/Other Name.app"},
      {"/X.app/Contents/MacOS/quorvi", "/X.app"},
      {"X.app/Contents/MacOS/quorvi", "X.app"},
      {"/A.app//Contents/MacOS/quorvi", "/A.app"},
      {"/usr/local/bin/quorvi", kDefault},
      {"/Applications/Quorvi.APP/Contents/MacOS/quorvi", kDefault},
      {"/Applications/Quorvi.app/Contents/quorvi", kDefault},
      {"/Applications/.app/Contents/MacOS/quorvi", kDefault},
      {"/Applications/Quorvi.apps/Contents/MacOS/quorvi", kDefault},
      {"Contents/MacOS/quorvi", kDefault},
      {"quorvi", kDefault},
      {"", kDefault},
      {std::nullopt, kDefault},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app_bundle_path(c.executable), c.app) << c.executable.value_or("(none)");
  }
}

}  // namespace
}  // namespace quorvi::mcp
