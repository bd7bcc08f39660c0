#include "cli/mcp/validate.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace quorvi::mcp {
namespace {

constexpr std::uint64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// The value as a signed 64-bit integer, if it is stored as an integer within that range.
// Doubles never count, even integral ones such as 10.0 or -0.
std::optional<std::int64_t> as_int64(const Json& value) {
  if (value.is_number_unsigned()) {
    std::uint64_t number = value.get<std::uint64_t>();
    if (number > kInt64Max) return std::nullopt;
    return static_cast<std::int64_t>(number);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  return std::nullopt;
}

// A bound that is not an integer within int64 is ignored, as is an absent one.
std::optional<std::int64_t> bound(const Json& property, const char* name) {
  auto found = property.find(name);
  if (found == property.end()) return std::nullopt;
  return as_int64(*found);
}

bool valid_integer(const Json& property, const Json& value) {
  std::optional<std::int64_t> number = as_int64(value);
  if (!number) return false;
  std::optional<std::int64_t> minimum = bound(property, "minimum");
  if (minimum && *number < *minimum) return false;
  std::optional<std::int64_t> maximum = bound(property, "maximum");
  if (maximum && *number > *maximum) return false;
  return true;
}

bool valid_value(const Json& property, const Json& value) {
  if (!property.is_object()) return false;
  auto type = property.find("type");
  if (type == property.end() || !type->is_string()) return false;
  const std::string& word = type->get_ref<const std::string&>();
  if (word == "string") return value.is_string();
  if (word == "boolean") return value.is_boolean();
  if (word == "integer") return valid_integer(property, value);
  return false;
}

bool has_required(const Json& schema, const Json& arguments) {
  auto required = schema.find("required");
  if (required == schema.end()) return true;
  if (!required->is_array()) return false;  // outside the precondition: refuse rather than guess
  for (const Json& name : *required) {
    if (!name.is_string() || !arguments.contains(name.get_ref<const std::string&>())) return false;
  }
  return true;
}

}  // namespace

bool valid_arguments(const Json& schema, const Json& arguments) {
  if (!arguments.is_object() || !schema.is_object()) return false;
  if (!has_required(schema, arguments)) return false;
  if (arguments.empty()) return true;
  auto properties = schema.find("properties");
  if (properties == schema.end() || !properties->is_object()) return false;
  for (const auto& [key, value] : arguments.items()) {
    auto property = properties->find(key);
    if (property == properties->end() || !valid_value(*property, value)) return false;
  }
  return true;
}

}  // namespace quorvi::mcp
