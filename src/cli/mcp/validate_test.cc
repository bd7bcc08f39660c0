#include "cli/mcp/validate.h"

#include <gtest/gtest.h>

#include <string>

#include "cli/mcp/tools.h"

namespace quorvi::mcp {
namespace {

Json schema_of(const std::string& tool) {
  for (const Json& entry : tools()) {
    if (entry["name"] == "quorvi_" + tool) return entry["inputSchema"];
  }
  ADD_FAILURE() << "no tool " << tool;
  return Json::object();
}

TEST(ValidateTest, CatalogueSchemas) {
  struct Case {
    const char* tool;
    const char* arguments;
    bool valid;
  } cases[] = {
      // Only objects are arguments.
      {"search", "null", false},
      {"search", "[]", false},
      {"search", "\"x\"", false},
      {"search", "1", false},
      {"search", "true", false},
      {"read", "[\"id\"]", false},
      // An empty object satisfies only the tools that require nothing.
      {"search", "{}", true},
      {"tags", "{}", true},
      {"read", "{}", false},
      {"create", "{}", false},
      {"pin", "{}", false},
      // Keys must be listed properties, compared exactly.
      {"create", R"({"text":"a","revision":"r"})", false},
      {"pin", R"({"id":"n","enabled":true,"revision":"r"})", true},
      {"read", R"({"ID":"n"})", false},
      {"read", R"({"id":"n","ID":"n"})", false},
      {"search", R"({"other":1})", false},
      // A required name present as null passes presence, then fails its type.
      {"read", R"({"id":null})", false},
      {"pin", R"({"id":"n","enabled":null})", false},
      // Page size and offset bounds, and the int64 range.
      {"search", R"({"limit":1})", true},
      {"search", R"({"limit":200})", true},
      {"search", R"({"limit":0})", false},
      {"search", R"({"limit":201})", false},
      {"search", R"({"limit":-1})", false},
      {"search", R"({"offset":0})", true},
      {"search", R"({"offset":9223372036854775807})", true},
      {"search", R"({"offset":-1})", false},
      {"search", R"({"offset":9223372036854775808})", false},
      {"search", R"({"offset":18446744073709551615})", false},
      {"search", R"({"offset":-9223372036854775808})", false},
      // Integers follow the number model: fractions, exponents and -0 are doubles.
      {"search", R"({"limit":10.0})", false},
      {"search", R"({"limit":1e1})", false},
      {"search", R"({"limit":"10"})", false},
      {"search", R"({"offset":-0})", false},
      {"search", R"({"offset":0.0})", false},
      // Booleans are true or false only.
      {"search", R"({"includeTrash":true})", true},
      {"search", R"({"includeTrash":false})", true},
      {"search", R"({"includeTrash":"true"})", false},
      {"search", R"({"includeTrash":1})", false},
      {"search", R"({"includeTrash":null})", false},
      {"trash", R"({"id":"n","enabled":false})", true},
      {"trash", R"({"id":"n","enabled":"true"})", false},
      {"trash", R"({"id":"n","enabled":1})", false},
      // Strings: any string, the empty one included, no length limit; nothing else.
      {"read", R"({"id":""})", true},
      {"create", R"({"text":"","tags":""})", true},
      {"read", R"({"id":7})", false},
      {"read", R"({"id":{}})", false},
      {"search", R"({"query":["a"]})", false},
      // Only replace requires the revision.
      {"replace", R"({"id":"n","text":"t"})", false},
      {"replace", R"({"id":"n","text":"t","revision":"r"})", true},
      {"append", R"({"id":"n","text":"t"})", true},
      {"attach", R"({"id":"n","name":"a.png","data":""})", true},
      {"attach", R"({"id":"n","name":"a.png"})", false},
      {"read_attachment", R"({"id":"n","attachmentId":"a"})", true},
      {"read_attachment", R"({"attachmentId":"a"})", false},
      // The last of repeated members counts.
      {"read", R"({"id":1,"id":"n"})", true},
      {"read", R"({"id":"n","id":1})", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + c.arguments);
    std::optional<Json> arguments = parse(c.arguments);
    ASSERT_TRUE(arguments.has_value());
    EXPECT_EQ(valid_arguments(schema_of(c.tool), *arguments), c.valid);
  }
}

// Schemas the catalogue does not contain, for the rules it cannot show: odd type words, and
// bounds that are ignored unless they are integers within int64.
TEST(ValidateTest, SchemaKeywords) {
  struct Case {
    const char* schema;
    const char* arguments;
    bool valid;
  } cases[] = {
      {R"({"required":[],"properties":{"n":{"type":"number"}}})", R"({"n":1})", false},
      {R"({"required":[],"properties":{"n":{}}})", R"({"n":1})", false},
      {R"({"required":[],"properties":{"n":{"type":["integer"]}}})", R"({"n":1})", false},
      {R"({"required":[],"properties":{"n":"integer"}})", R"({"n":1})", false},
      {R"({"required":[],"properties":{"n":{"type":"null"}}})", R"({"n":null})", false},
      {R"({"required":[]})", R"({"n":1})", false},
      {R"({"required":[]})", "{}", true},
      {R"({"required":["n"],"properties":{"n":{"type":"integer"}}})", "{}", false},
      // additionalProperties is not read: unlisted keys are refused whatever it says.
      {R"({"required":[],"properties":{},"additionalProperties":true})", R"({"n":1})", false},
      // Negative bounds compare signed.
      {R"({"required":[],"properties":{"n":{"type":"integer","minimum":-5}}})", R"({"n":-5})",
       true},
      {R"({"required":[],"properties":{"n":{"type":"integer","minimum":-5}}})", R"({"n":-6})",
       false},
      {R"({"required":[],"properties":{"n":{"type":"integer","maximum":-5}}})", R"({"n":3})",
       false},
      // Bounds that are doubles or beyond int64 are ignored.
      {R"({"required":[],"properties":{"n":{"type":"integer","minimum":5.0}}})", R"({"n":1})",
       true},
      {R"({"required":[],"properties":{"n":{"type":"integer","maximum":1e1}}})", R"({"n":99})",
       true},
      {R"({"required":[],"properties":{"n":{"type":"integer","minimum":9223372036854775808}}})",
       R"({"n":1})", true},
      {R"({"required":[],"properties":{"n":{"type":"integer","minimum":"5"}}})", R"({"n":1})",
       true},
      // Bounds beside other types have no effect.
      {R"({"required":[],"properties":{"s":{"type":"string","minimum":5}}})", R"({"s":""})", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.schema) + " " + c.arguments);
    std::optional<Json> schema = parse(c.schema);
    std::optional<Json> arguments = parse(c.arguments);
    ASSERT_TRUE(schema.has_value() && arguments.has_value());
    EXPECT_EQ(valid_arguments(*schema, *arguments), c.valid);
  }
}

}  // namespace
}  // namespace quorvi::mcp
