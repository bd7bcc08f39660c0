// Outcomes travel as values: either what was asked for, or one message for the user.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quorvi {

// A fixed user-facing text, without a final full stop.
struct Message {
  std::string text;
};

// Success that carries nothing.
struct Ok {};

template <class T>
using Outcome = std::variant<T, Message>;

template <class T>
[[nodiscard]] bool failed(const Outcome<T>& outcome) {
  return std::holds_alternative<Message>(outcome);
}

template <class T>
const std::string& message_of(const Outcome<T>& outcome) {
  return std::get<Message>(outcome).text;
}

template <class T>
T& value_of(Outcome<T>& outcome) {
  return std::get<T>(outcome);
}

template <class T>
const T& value_of(const Outcome<T>& outcome) {
  return std::get<T>(outcome);
}

inline Message fail(std::string text) {
  return Message{std::move(text)};
}

// The failure of `outcome` passed up unchanged, to a caller whose outcome holds another type:
// `if (failed(x)) return failure_of(x);`
template <class T>
Message failure_of(const Outcome<T>& outcome) {
  return std::get<Message>(outcome);
}

}  // namespace quorvi
