#include "cli/mcp/bridge.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvi::mcp {
namespace {

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
