#include "cli/mcp/validate.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "cli/mcp/tools.h"

namespace quorvi::mcp {
namespace {

// A tool's schema in the catalogue, or a schema given as JSON.
Json schema_of(const std::string& tool) {
  if (std::optional<Parsed> given = parse(tool)) return **given;
  for (const Json& entry : tools())
    if (entry["name"] == "quorvi_" + tool) return entry["inputSchema"];
  ADD_FAILURE() << "no tool " << tool;
  return Json::object();
}

const char* const kAccepted = "";

// Arguments against the catalogue's own schemas, and why each refused one is refused; schemas
// outside the catalogue's shape are refused, never guessed at. The yes-or-no answer is the
// row's: yes exactly where no reason is given.
TEST(Validate, Rows) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"search", "null", "the arguments must be an object"},
      {"create", R"({"text":"a","revision":"r"})", R"("revision" is not an argument of this tool)"},
      {"pin", R"({"id":"n","enabled":true,"revision":"r"})", kAccepted},
      {"read", R"({"id":"n","a\"b":1})", R"("a\"b" is not an argument of this tool)"},
      {"search", R"({"limit":1})", kAccepted},
      {"search", R"({"limit":200})", kAccepted},
      {"search", R"({"limit":0})", R"("limit" must be at least 1)"},
      {"search", R"({"limit":201})", R"("limit" must be at most 200)"},
      {"search", R"({"offset":9223372036854775807})", kAccepted},
      {"search", R"({"offset":-1})", R"("offset" must be at least 0)"},
      {"search", R"({"offset":9223372036854775808})", R"("offset" must be an integer)"},
      {"search", R"({"limit":10.0})", R"("limit" must be an integer)"},  // never a double
      {"search", R"({"includeTrash":1})", R"("includeTrash" must be true or false)"},
      {"read", R"({"id":""})", kAccepted},
      {"read", R"({"id":null})", R"("id" must be a string)"},
      {"replace", R"({"id":"n","text":"t"})", R"("revision" is required)"},
      {"replace", R"({"id":"n","text":"t","revision":"r"})", kAccepted},
      {"attach", R"({"id":"n","name":"a.png"})", R"("data" is required)"},
      // The first fault found: required names first, then members in key order.
      {"read", R"({"zz":1})", R"("id" is required)"},
      {"search", R"({"offset":-1,"limit":0})", R"("limit" must be at least 1)"},
      {R"({"required":"id"})", R"({"id":"n"})", "the tool's schema cannot be checked"},
      {R"({"required":[1]})", R"({"id":"n"})", "the tool's schema cannot be checked"},
      {R"({"properties":{"n":{"type":"number"}}})", R"({"n":1})",
       R"("n" has no type this server can check)"},
      {R"({"properties":{"n":{}}})", R"({"n":1})", R"("n" has no type this server can check)"},
      {R"({"properties":{"n":1}})", R"({"n":1})", R"("n" has no type this server can check)"},
      {R"({"required":[]})", R"({"n":1})", R"("n" is not an argument of this tool)"},
      {"[]", "{}", "the tool's schema cannot be checked"},
  };
  for (const auto& [tool, arguments, why] : rows) {
    Json schema = schema_of(tool);
    Json value = **parse(arguments);
    std::optional<std::string> fault = argument_fault(schema, value);
    EXPECT_EQ(fault.value_or(kAccepted), why) << tool << arguments;
    EXPECT_EQ(valid_arguments(schema, value), why == std::string(kAccepted)) << tool << arguments;
  }
}

}  // namespace
}  // namespace quorvi::mcp
