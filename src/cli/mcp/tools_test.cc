#include "cli/mcp/tools.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>

namespace quorvi::mcp {
namespace {

// Each tool's hints, in catalogue order, as every client reads them: the four tools that only
// read are read-only and not destructive, every other one destructive, none open-world.
TEST(Tools, AnnotationRows) {
  const char* kReads = R"({"destructiveHint":false,"openWorldHint":false,"readOnlyHint":true})";
  const char* kChanges = R"({"destructiveHint":true,"openWorldHint":false,"readOnlyHint":false})";
  const std::pair<const char*, const char*> rows[] = {
      {"search", kReads},          {"tags", kReads},       {"read", kReads},
      {"create", kChanges},        {"append", kChanges},   {"prepend", kChanges},
      {"replace", kChanges},       {"add_tags", kChanges}, {"remove_tags", kChanges},
      {"pin", kChanges},           {"archive", kChanges},  {"trash", kChanges},
      {"read_attachment", kReads}, {"attach", kChanges}};
  const Json catalogue = tools();
  ASSERT_EQ(catalogue.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(write(catalogue[i]["name"]) + write(catalogue[i]["annotations"]),
              "\"quorvi_" + std::string(rows[i].first) + '"' + rows[i].second);
}

}  // namespace
}  // namespace quorvi::mcp
