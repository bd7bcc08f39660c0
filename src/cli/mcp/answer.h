// The connector's answer, read without building its tree: of an answer of up to 8 MiB only the
// "error" message and the "result" value matter, and a tree of its many small values would take
// tens of times its size. The result is kept as compact text, exactly as `write` writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "cli/mcp/json.h"

namespace quorvi::mcp {

// The compact text of one value, exactly as `write` writes the value: members in ascending byte
// order of their names, the last of equal names kept. The one carrier of the app's text, which
// the program passes on without looking into it.
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
  // holder can free the text the value was read from before that copy is made.
  const std::string& text();
  std::string take() &&;

 private:
  friend class AnswerReader;

  void put_in_order();

  std::string text_;  // as read: members in the order they came
  std::vector<std::uint32_t> order_;
  std::vector<Reordered> reordered_;
};

// What an answer body carries: its "error" as the message when that is a string (the last
// "error" member counts), else the text of its "result" (null when absent, or when the body is no
// object). A body that is not one JSON value: "Invalid connector response". The body is freed
// before the result is put in order.
[[nodiscard]] Outcome<Prewritten> read_answer(std::string body);

}  // namespace quorvi::mcp
