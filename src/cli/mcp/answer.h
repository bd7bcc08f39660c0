// The lean parse of a large answer that is only passed on: of the root object only the wanted
// members are kept, each as compact text rather than as a tree, so that it takes about the size
// of its text whatever shape it has (a tree of many small values takes tens of times more).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/mcp/json.h"

namespace quorvi::mcp {

// The compact text of one value, exactly as `write` writes the value: members in ascending byte
// order of their names, the last of equal names kept.
class Prewritten {
 public:
  // An object, from its "{" to past its "}", whose members are written in the order that the
  // name offsets order_[first], ... order_[first + count - 1] give.
  struct Reordered {
    std::uint32_t begin, end, first, count;
  };

  Prewritten() = default;
  explicit Prewritten(const Json& value) : text_(write(value)) {}

  // Objects whose members came out of order are put in order on the first call, so that the
  // holder can free the text the value was parsed from before that copy is made.
  const std::string& text();
  std::string take() &&;

 private:
  friend class LeanBuilder;

  void put_in_order();

  std::string text_;  // as parsed: members in the order they came
  std::vector<std::uint32_t> order_;
  std::vector<Reordered> reordered_;
};

// Of a root object, the members named in `wanted`, in that order: nothing for one that is absent,
// and for all when the root is no object. Refuses exactly what parse refuses.
using Members = std::vector<std::optional<Prewritten>>;
std::optional<Members> parse_members(std::string_view text,
                                     std::initializer_list<std::string_view> wanted);

}  // namespace quorvi::mcp
