#include "cli/mcp/validate.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "cli/mcp/tools.h"

namespace quorvi::mcp {
namespace {

Json schema_of(const std::string& tool) {
  for (const Json& entry : tools())
    if (entry["name"] == "quorvi_" + tool) return entry["inputSchema"];
  ADD_FAILURE() << "no tool " << tool;
  return Json::object();
}

// Arguments against the catalogue's own schemas.
TEST(Validate, Rows) {
  const std::tuple<const char*, const char*, bool> rows[] = {
      {"search", "null", false},
      {"search", "{}", true},
      {"create", R"({"text":"a","revision":"r"})", false},  // only listed properties
      {"pin", R"({"id":"n","enabled":true,"revision":"r"})", true},
      {"read", R"({"ID":"n"})", false},
      {"search", R"({"limit":1})", true},
      {"search", R"({"limit":200})", true},
      {"search", R"({"limit":0})", false},
      {"search", R"({"limit":201})", false},
      {"search", R"({"offset":9223372036854775807})", true},
      {"search", R"({"offset":-1})", false},
      {"search", R"({"offset":9223372036854775808})", false},
      {"search", R"({"limit":10.0})", false},  // integers are never doubles
      {"search", R"({"limit":"10"})", false},
      {"search", R"({"includeTrash":false})", true},
      {"search", R"({"includeTrash":1})", false},
      {"read", R"({"id":""})", true},
      {"read", R"({"id":7})", false},
      {"replace", R"({"id":"n","text":"t"})", false},
      {"replace", R"({"id":"n","text":"t","revision":"r"})", true},
      {"attach", R"({"id":"n","name":"a.png"})", false},
      {"read", R"({"id":1,"id":"n"})", true},  // the last repeated member counts
  };
  for (const auto& [tool, arguments, valid] : rows)
    EXPECT_EQ(valid_arguments(schema_of(tool), parse(arguments).value()), valid)
        << tool << arguments;
}

}  // namespace
}  // namespace quorvi::mcp
