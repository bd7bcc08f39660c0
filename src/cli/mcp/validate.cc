#include "cli/mcp/validate.h"

#include <cstdint>
#include <limits>
#include <string_view>

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

// `"name" rule`, the name written as a JSON string so that any key reads unambiguously.
std::string fault(const std::string& name, std::string_view rule) {
  std::string text = write(Json(name));
  text += ' ';
  text += rule;
  return text;
}

std::optional<std::string> integer_fault(const std::string& name, const Json& property,
                                         const Json& value) {
  std::optional<std::int64_t> number = as_int64(value);
  if (!number) return fault(name, "must be an integer");
  std::optional<std::int64_t> minimum = bound(property, "minimum");
  if (minimum && *number < *minimum)
    return fault(name, "must be at least " + std::to_string(*minimum));
  std::optional<std::int64_t> maximum = bound(property, "maximum");
  if (maximum && *number > *maximum)
    return fault(name, "must be at most " + std::to_string(*maximum));
  return std::nullopt;
}

std::optional<std::string> value_fault(const std::string& name, const Json& property,
                                       const Json& value) {
  if (!property.is_object()) return fault(name, "has no type this server can check");
  auto type = property.find("type");
  if (type == property.end() || !type->is_string())
    return fault(name, "has no type this server can check");
  const std::string& word = type->get_ref<const std::string&>();
  if (word == "string") {
    if (!value.is_string()) return fault(name, "must be a string");
    return std::nullopt;
  }
  if (word == "boolean") {
    if (!value.is_boolean()) return fault(name, "must be true or false");
    return std::nullopt;
  }
  if (word == "integer") return integer_fault(name, property, value);
  return fault(name, "has no type this server can check");
}

std::optional<std::string> required_fault(const Json& schema, const Json& arguments) {
  auto required = schema.find("required");
  if (required == schema.end()) return std::nullopt;
  // Outside the precondition: refuse rather than guess.
  if (!required->is_array()) return "the tool's schema cannot be checked";
  for (const Json& name : *required) {
    if (!name.is_string()) return "the tool's schema cannot be checked";
    const std::string& wanted = name.get_ref<const std::string&>();
    if (!arguments.contains(wanted)) return fault(wanted, "is required");
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> argument_fault(const Json& schema, const Json& arguments) {
  if (!arguments.is_object()) return "the arguments must be an object";
  if (!schema.is_object()) return "the tool's schema cannot be checked";
  if (std::optional<std::string> missing = required_fault(schema, arguments)) return missing;
  if (arguments.empty()) return std::nullopt;
  auto listed = schema.find("properties");
  const Json* properties = listed != schema.end() && listed->is_object() ? &*listed : nullptr;
  for (const auto& [key, value] : arguments.items()) {
    auto property = properties ? properties->find(key) : listed;
    if (!properties || property == properties->end())
      return fault(key, "is not an argument of this tool");
    if (std::optional<std::string> wrong = value_fault(key, *property, value)) return wrong;
  }
  return std::nullopt;
}

bool valid_arguments(const Json& schema, const Json& arguments) {
  return !argument_fault(schema, arguments).has_value();
}

}  // namespace quorvi::mcp
