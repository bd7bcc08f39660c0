// The fourteen connector operations over the store, by name.
#pragma once

#include <string_view>

#include "base/outcome.h"
#include "cli/mcp/json.h"
#include "store.h"

namespace quorvi::standin {

struct Operation {
  std::string_view name;
  // Returns the "result" value, or the message that goes back as "error".
  Outcome<mcp::Json> (*run)(Store& store, const Scope& scope, const mcp::Json& args);
};

// The operation of that exact name, or null.
const Operation* find_operation(std::string_view name);

}  // namespace quorvi::standin
