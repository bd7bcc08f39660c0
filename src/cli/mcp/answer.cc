#include "cli/mcp/answer.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <span>
#include <utility>

namespace quorvi::mcp {
namespace {

int hex_digit(char c) {
  return c <= '9' ? c - '0' : c - 'a' + 10;
}

// The next byte of a name that write_string wrote, its escapes undone; -1 at the closing
// quotation mark (which ends the name before any byte, as in byte order).
int name_byte(std::string_view text, size_t& at) {
  char c = text[at];
  if (c == '"') return -1;
  if (c != '\\') {
    ++at;
    return static_cast<unsigned char>(c);
  }
  char escaped = text[at + 1];
  at += 2;
  switch (escaped) {
    case 'b': return '\b';
    case 't': return '\t';
    case 'n': return '\n';
    case 'f': return '\f';
    case 'r': return '\r';
    case 'u': {  // only \u00XX is written
      int byte = hex_digit(text[at + 2]) * 16 + hex_digit(text[at + 3]);
      at += 4;
      return byte;
    }
    default: return static_cast<unsigned char>(escaped);
  }
}

// Compares the names written at `a` and `b` (each at its opening quotation mark) in byte order.
int compare_names(std::string_view text, size_t a, size_t b) {
  ++a, ++b;
  for (;;) {
    int x = name_byte(text, a), y = name_byte(text, b);
    if (x != y) return x < y ? -1 : 1;
    if (x < 0) return 0;
  }
}

}  // namespace

// Reads an answer's "error" and "result" as the scan goes. The result is written straight into
// compact text; an object in it whose members are out of order, or repeat a name, is written as it
// came and noted with its members' order, to be put in order once, after the body is freed.
class AnswerReader {
 public:
  explicit AnswerReader(size_t body_size) : body_size_(body_size) {}

  bool null() { return scalar(nullptr); }
  bool boolean(bool value) { return scalar(value); }
  bool integer(std::int64_t value) { return scalar(value); }
  bool unsigned_integer(std::uint64_t value) { return scalar(value); }
  bool real(double value) { return scalar(value); }
  bool string(const Text& text);
  bool key(const Text& name);
  bool start_object() { return open(true); }
  bool end_object() { return close(); }
  bool start_array() { return open(false); }
  bool end_array() { return close(); }

  // The last "error" member when it is a string, and the last "result" member.
  std::optional<std::string> error;
  std::optional<Prewritten> result;

  // Once the scan is done: a result often takes most of the body, but a small one keeps no
  // large buffer.
  void trim_result() {
    if (result && result->text_.capacity() / 2 > result->text_.size()) {
      result->text_.shrink_to_fit();
    }
  }

 private:
  // The member of the root object whose name was read last.
  enum class Member { kOther, kError, kResult };

  struct Frame {
    bool object;
    bool empty;
    std::uint32_t begin;
    size_t first_member;  // in members_
  };

  // Offsets are 32 bits wide; a text that would outgrow them is refused.
  bool fits() const { return text_.size() < std::numeric_limits<std::uint32_t>::max() - 8; }

  // At the start of every value: a value of the root object's members decides what is kept.
  void begin_value() {
    if (depth_ != 1 || !root_object_) return;
    if (member_ == Member::kError) error.reset();  // a string sets it again
    writing_ = member_ == Member::kResult;
  }

  // Before a value of the result: the separator it needs in an array.
  void separate() {
    if (frames_.empty() || frames_.back().object) return;
    if (!frames_.back().empty) text_ += ',';
    frames_.back().empty = false;
  }

  // After a value of the result: the result is complete when no container of it is open.
  void end_value() {
    if (!frames_.empty()) return;
    Prewritten& kept = result.emplace();
    kept.text_ = std::move(text_);
    kept.order_ = std::move(order_);
    kept.reordered_ = std::move(reordered_);
    text_ = std::string();
    order_ = {};
    reordered_ = {};
    writing_ = false;
  }

  template <class V>
  bool scalar(V value) {
    begin_value();
    if (writing_) {
      separate();
      write(Json(value), text_);
      end_value();
    }
    return true;
  }

  bool open(bool object) {
    if (depth_ == 0) root_object_ = object;
    begin_value();
    ++depth_;
    if (!writing_) return true;
    if (!fits()) return false;
    separate();
    frames_.push_back({object, true, static_cast<std::uint32_t>(text_.size()), members_.size()});
    text_ += object ? '{' : '[';
    return true;
  }

  bool close() {
    --depth_;
    if (!writing_) return true;
    if (frames_.back().object) {
      close_object();
    } else {
      text_ += ']';
    }
    frames_.pop_back();
    end_value();
    return true;
  }

  void close_object();

  size_t body_size_;
  size_t depth_ = 0;
  bool root_object_ = false;
  Member member_ = Member::kOther;
  bool writing_ = false;  // inside the value of a "result" member
  std::string text_;
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> members_;  // name offsets of the open objects' members
  std::vector<std::uint32_t> order_;
  std::vector<Prewritten::Reordered> reordered_;
};

bool AnswerReader::string(const Text& text) {
  begin_value();
  if (depth_ == 1 && root_object_ && member_ == Member::kError) {
    error = text.written.empty() ? std::move(text.decoded) : std::string(text.bytes);
  } else if (writing_) {
    separate();
    if (text.written.empty()) {
      write_string(text.bytes, text_);
    } else {
      text_ += text.written;
    }
    end_value();
  }
  return true;
}

bool AnswerReader::key(const Text& name) {
  if (depth_ == 1) {
    member_ = name.bytes == "error"    ? Member::kError
              : name.bytes == "result" ? Member::kResult
                                       : Member::kOther;
    if (member_ == Member::kResult) {
      // Room for all of the body once, so that a result that is most of it is never copied to
      // grow; pages not written to cost no memory. An earlier result gives its room back.
      if (result) {
        text_ = std::move(result->text_);
        text_.clear();
        result.reset();
      } else {
        text_.reserve(body_size_);
      }
    }
    return true;
  }
  if (!writing_) return true;
  if (!fits()) return false;
  Frame& frame = frames_.back();
  if (!frame.empty) text_ += ',';
  frame.empty = false;
  members_.push_back(static_cast<std::uint32_t>(text_.size()));
  if (name.written.empty()) {
    write_string(name.bytes, text_);
  } else {
    text_ += name.written;
  }
  text_ += ':';
  return true;
}

void AnswerReader::close_object() {
  const Frame& frame = frames_.back();
  auto first = members_.begin() + static_cast<std::ptrdiff_t>(frame.first_member);
  auto before = [&](std::uint32_t a, std::uint32_t b) {
    int order = compare_names(text_, a, b);
    return order < 0 || (order == 0 && a < b);
  };
  bool ascending = std::adjacent_find(first, members_.end(), [&](std::uint32_t a, std::uint32_t b) {
                     return compare_names(text_, a, b) >= 0;
                   }) == members_.end();
  if (!ascending) {
    // Sorted in place by name, then by place; of equal names the last one counts. Members that
    // only repeat names, or came in reverse order, need no sort.
    auto descending = [&](std::uint32_t a, std::uint32_t b) {
      return compare_names(text_, a, b) > 0;
    };
    if (std::adjacent_find(first, members_.end(), [&](std::uint32_t a, std::uint32_t b) {
          return compare_names(text_, a, b) <= 0;
        }) == members_.end()) {
      std::reverse(first, members_.end());
    } else if (std::adjacent_find(first, members_.end(), descending) != members_.end()) {
      std::sort(first, members_.end(), before);
    }
    auto kept = first;
    for (auto member = first; member != members_.end(); ++member) {
      auto next = member + 1;
      if (next != members_.end() && compare_names(text_, *member, *next) == 0) continue;
      *kept++ = *member;
    }
    auto start = static_cast<std::uint32_t>(order_.size());
    order_.insert(order_.end(), first, kept);
    reordered_.push_back({frame.begin, static_cast<std::uint32_t>(text_.size() + 1), start,
                          static_cast<std::uint32_t>(kept - first)});
  }
  members_.erase(first, members_.end());
  text_ += '}';
}

namespace {

// Writes text that AnswerReader wrote, with every noted object's members in their order.
struct Ordering {
  std::string_view text;
  const std::vector<std::uint32_t>& order;
  std::span<const Prewritten::Reordered> reordered;  // by `begin`
  std::string& out;

  // Past the closing quotation mark of the string that starts at `at`.
  size_t string_end(size_t at) const {
    for (size_t from = at + 1;;) {
      size_t quote = text.find('"', from);
      size_t slashes = 0;
      while (text[quote - 1 - slashes] == '\\')
        ++slashes;
      if (slashes % 2 == 0) return quote + 1;
      from = quote + 1;
    }
  }

  size_t copy(size_t at, size_t end) {
    out.append(text, at, end - at);
    return end;
  }

  size_t member(size_t at) {
    at = copy(at, string_end(at));
    out += ':';
    return value(at + 1);
  }

  // Writes the value at `at`; returns the offset past it.
  size_t value(size_t at) {
    char c = text[at];
    if (c == '"') return copy(at, string_end(at));
    if (c != '[' && c != '{') {
      size_t end = std::min(text.find_first_of(",]}", at), text.size());
      return copy(at, end);
    }
    if (c == '{') {
      auto noted = std::lower_bound(
          reordered.begin(), reordered.end(), at,
          [](const Prewritten::Reordered& object, size_t begin) { return object.begin < begin; });
      if (noted != reordered.end() && noted->begin == at) {
        out += '{';
        for (std::uint32_t i = 0; i < noted->count; ++i) {
          if (i) out += ',';
          member(order[noted->first + i]);
        }
        out += '}';
        return noted->end;
      }
    }
    out += c;
    char close = c == '{' ? '}' : ']';
    if (text[++at] == close) {
      out += close;
      return at + 1;
    }
    for (;;) {
      at = c == '{' ? member(at) : value(at);
      char next = text[at++];
      out += next;
      if (next == close) return at;
    }
  }
};

}  // namespace

void Prewritten::put_in_order() {
  if (reordered_.empty()) return;
  std::sort(reordered_.begin(), reordered_.end(),
            [](const Reordered& a, const Reordered& b) { return a.begin < b.begin; });
  std::string ordered;
  ordered.reserve(text_.size());
  Ordering{text_, order_, reordered_, ordered}.value(0);
  text_ = std::move(ordered);
  order_ = {};
  reordered_ = {};
}

const std::string& Prewritten::text() {
  put_in_order();
  return text_;
}

std::string Prewritten::take() && {
  put_in_order();
  return std::move(text_);
}

Outcome<Prewritten> read_answer(std::string body) {
  AnswerReader reader(body.size());
  if (!scan_json(body, reader)) return fail("Invalid connector response");
  body = std::string();
  reader.trim_result();
  if (reader.error) return fail(std::move(*reader.error));
  if (!reader.result) return Prewritten(Json(nullptr));
  return std::move(*reader.result);
}

}  // namespace quorvi::mcp
