#include "cli/mcp/bridge.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvi::mcp {
namespace {

// The app's answer body: its result as compact JSON, or "!" and the failure shown to the user.
TEST(Bridge, ResponseOutcomeRows) {
  const std::pair<std::string, std::string> rows[] = {
      {R"({"result":{"b":1,"a":[true]}})", R"({"a":[true],"b":1})"},
      {R"({"result":1,"error":"Note not found"})", "!Note not found"},
      {R"({"error":"caf\u00e9\n"})", "!caf\xC3\xA9\n"},
      {R"({"error":7})", "null"},  // only a string error is a failure
      {"[1,2]", "null"},
      {"{\"result\":1}x", "!Invalid connector response"},
  };
  for (const auto& [body, expected] : rows) {
    ConnectorResult got = response_outcome(body);
    EXPECT_EQ(failed(got) ? "!" + message_of(got) : value_of(got).text(), expected) << body;
  }
}

TEST(Bridge, AppBundleFromExecutablePath) {
  constexpr char kDefault[] = "/Applications/Quorvi.app";
  const std::pair<std::optional<std::string>, std::string> rows[] = {
      {"/Users/me/Apps/Other Name.app/Contents/MacOS/quorvi", "/Users/me/Apps/Other Name.app"},
      {"/A.app//Contents/MacOS/quorvi", "/A.app"},
      {"/usr/local/bin/quorvi", kDefault},
      {"/Applications/Quorvi.APP/Contents/MacOS/quorvi", kDefault},
      {"/Applications/Quorvi.app/Contents/quorvi", kDefault},
      {"/Applications/.app/Contents/MacOS/quorvi", kDefault},
      {"/Applications/Quorvi.apps/Contents/MacOS/quorvi", kDefault},
      {"quorvi", kDefault},
      {std::nullopt, kDefault},
  };
  for (const auto& [executable, app] : rows)
    EXPECT_EQ(app_bundle_path(executable), app) << executable.value_or("(none)");
}

}  // namespace
}  // namespace quorvi::mcp
