// Readers of operation arguments. Each takes `bad`, which keeps the name of the first argument
// that is missing (when required) or of the wrong type, so an operation can read all of its
// arguments and then refuse once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/outcome.h"
#include "cli/mcp/json.h"

namespace quorvi::standin {

const mcp::Json* member(const mcp::Json& object, const char* name);

std::optional<std::string> maybe_text(const mcp::Json& args, const char* name, std::string& bad);
std::string text(const mcp::Json& args, const char* name, std::string& bad);
std::optional<bool> maybe_flag(const mcp::Json& args, const char* name, std::string& bad);
bool flag(const mcp::Json& args, const char* name, std::string& bad);
// A non-negative integer within [min, max].
std::optional<uint64_t> maybe_count(const mcp::Json& args, const char* name, uint64_t min,
                                    uint64_t max, std::string& bad);

Message bad_argument(const std::string& name);

}  // namespace quorvi::standin
