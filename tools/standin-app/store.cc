#include "store.h"

#include <unicase.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

#include "arguments.h"
#include "base/outcome.h"
#include "operations.h"

namespace quorvi::standin {
namespace {

using mcp::Json;
using Reply = Outcome<Json>;

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view trim(std::string_view text, bool (*drop)(char)) {
  while (!text.empty() && drop(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && drop(text.back()))
    text.remove_suffix(1);
  return text;
}

std::optional<std::vector<std::string>> tag_list(const Json& scope, const char* name) {
  std::vector<std::string> list;
  const Json* value = member(scope, name);
  if (!value) return list;
  if (!value->is_array()) return std::nullopt;
  for (const auto& tag : *value) {
    if (!tag.is_string()) return std::nullopt;
    list.push_back(lower(tag.get<std::string>()));
  }
  return list;
}

[[nodiscard]] Outcome<Scope> scope_of(const Json& request) {
  const Json* scope = member(request, "scope");
  if (!scope) return Scope{};
  if (!scope->is_object()) return fail("Invalid request");
  auto only = tag_list(*scope, "onlyTags");
  auto exclude = tag_list(*scope, "excludeTags");
  if (!only || !exclude) return fail("Invalid request");
  return Scope{std::move(*only), std::move(*exclude)};
}

Reply perform(Store& store, std::string_view body, std::string_view token) {
  auto parsed = mcp::parse(body);
  if (!parsed || !(*parsed)->is_object()) return fail("Invalid request");
  const Json* request = &**parsed;
  const Json* sent = member(*request, "token");
  if (!sent || !sent->is_string() || sent->get<std::string>() != token) {
    return fail("Unauthorized");
  }
  const Json* operation = member(*request, "operation");
  if (!operation || !operation->is_string()) return fail("Invalid request");
  auto scope = scope_of(*request);
  if (failed(scope)) return failure_of(scope);
  const Json* args = member(*request, "arguments");
  if (args && !args->is_object()) return fail("Invalid arguments");
  if (const Operation* found = find_operation(operation->get<std::string>())) {
    return found->run(store, value_of(scope), args ? *args : Json::object());
  }
  return fail("Unknown operation: " + operation->get<std::string>());
}

}  // namespace

std::string lower(std::string_view text) {
  size_t length = 0;
  std::unique_ptr<uint8_t, decltype(&std::free)> folded(
      u8_tolower(reinterpret_cast<const uint8_t*>(text.data()), text.size(), nullptr, nullptr,
                 nullptr, &length),
      &std::free);
  if (folded) return std::string(reinterpret_cast<const char*>(folded.get()), length);
  std::string ascii(text);
  for (char& c : ascii) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ascii;
}

std::vector<std::string> split_tags(std::string_view text) {
  std::vector<std::string> tags;
  std::vector<std::string> seen;
  while (true) {
    size_t comma = text.find(',');
    std::string_view piece = trim(text.substr(0, comma), is_space);
    piece = trim(piece, [](char c) { return c == '#'; });
    std::string lowered = lower(piece);
    if (!piece.empty() && std::find(seen.begin(), seen.end(), lowered) == seen.end()) {
      tags.emplace_back(piece);
      seen.push_back(std::move(lowered));
    }
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return tags;
}

bool has_tag(const Note& note, const std::string& lowered) {
  for (const auto& tag : note.tags) {
    if (lower(tag) == lowered) return true;
  }
  return false;
}

bool visible(const Note& note, const Scope& scope) {
  for (const auto& tag : scope.exclude) {
    if (has_tag(note, tag)) return false;
  }
  if (scope.only.empty()) return true;
  for (const auto& tag : scope.only) {
    if (has_tag(note, tag)) return true;
  }
  return false;
}

mcp::Json answer(Store& store, std::string_view body, std::string_view token) {
  Reply reply = perform(store, body, token);
  if (failed(reply)) return Json{{"error", message_of(reply)}};
  return Json{{"result", std::move(value_of(reply))}};
}

}  // namespace quorvi::standin
