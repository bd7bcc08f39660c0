#include "arguments.h"

namespace quorvi::standin {

using mcp::Json;

const Json* member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  auto found = object.find(name);
  return found == object.end() ? nullptr : &*found;
}

std::optional<std::string> maybe_text(const Json& args, const char* name, std::string& bad) {
  const Json* value = member(args, name);
  if (!value) return std::nullopt;
  if (value->is_string()) return value->get<std::string>();
  if (bad.empty()) bad = name;
  return std::nullopt;
}

std::string text(const Json& args, const char* name, std::string& bad) {
  auto value = maybe_text(args, name, bad);
  if (!value && bad.empty()) bad = name;
  return value.value_or("");
}

std::optional<bool> maybe_flag(const Json& args, const char* name, std::string& bad) {
  const Json* value = member(args, name);
  if (!value) return std::nullopt;
  if (value->is_boolean()) return value->get<bool>();
  if (bad.empty()) bad = name;
  return std::nullopt;
}

bool flag(const Json& args, const char* name, std::string& bad) {
  auto value = maybe_flag(args, name, bad);
  if (!value && bad.empty()) bad = name;
  return value.value_or(false);
}

std::optional<uint64_t> maybe_count(const Json& args, const char* name, uint64_t min, uint64_t max,
                                    std::string& bad) {
  const Json* value = member(args, name);
  if (!value) return std::nullopt;
  if (value->is_number_unsigned() && value->get<uint64_t>() >= min &&
      value->get<uint64_t>() <= max) {
    return value->get<uint64_t>();
  }
  if (bad.empty()) bad = name;
  return std::nullopt;
}

Message bad_argument(const std::string& name) {
  return fail("Missing or invalid argument: " + name);
}

}  // namespace quorvi::standin
