#include "cli/mcp/lean.h"

#include <algorithm>
#include <cstring>
#include <limits>
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

// Writes each wanted member of the root object straight into compact text as it is parsed.
// Objects are written with their members in the order they came; one whose members are out of
// order, or repeat a name, is noted with its members' order, and put in order once, later.
class LeanBuilder {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  LeanBuilder(std::span<const std::string_view> wanted, size_t text_size)
      : wanted_(wanted), found_(wanted.size()), text_size_(text_size) {}

  bool null() { return scalar(nullptr); }
  bool boolean(bool value) { return scalar(value); }
  // Only a literal with a minus sign arrives here, so a zero was written "-0".
  bool number_integer(number_integer_t value) { return value == 0 ? scalar(-0.0) : scalar(value); }
  bool number_unsigned(number_unsigned_t value) { return scalar(value); }
  bool number_float(number_float_t value, const string_t&) { return scalar(value); }
  bool string(string_t& value) {
    if (begin_value()) {
      write_string(value, text_);
      end_value();
    }
    return true;
  }
  bool binary(binary_t&) { return false; }
  bool start_object(std::size_t) { return open(true); }
  bool key(string_t& name);
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(false); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  Members take() { return std::move(found_); }

 private:
  struct Frame {
    bool object;
    bool empty;
    std::uint32_t begin;
    size_t first_member;  // in members_
  };

  // Offsets are 32 bits wide; a text that would outgrow them is refused.
  bool fits() const { return text_.size() < std::numeric_limits<std::uint32_t>::max() - 8; }

  // Before every value: true when it is written, after the separator it needs.
  bool begin_value() {
    if (!keeping_) return false;
    if (!frames_.empty() && !frames_.back().object) {
      if (!frames_.back().empty) text_ += ',';
      frames_.back().empty = false;
    }
    return true;
  }

  // After a written value: a root member's value is complete when no container is open.
  void end_value() {
    if (!frames_.empty()) return;
    Prewritten& member = found_[slot_].emplace();
    // An answer's result often takes its whole text; a small one keeps no large buffer.
    if (text_.capacity() / 2 > text_.size()) text_.shrink_to_fit();
    member.text_ = std::move(text_);
    member.order_ = std::move(order_);
    member.reordered_ = std::move(reordered_);
    text_ = std::string();
    order_ = {};
    reordered_ = {};
    keeping_ = false;
  }

  template <class V>
  bool scalar(V value) {
    if (begin_value()) {
      write(Json(value), text_);
      end_value();
    }
    return true;
  }

  bool open(bool object) {
    if (depth_ >= kMaxJsonDepth) return false;
    ++depth_;
    if (depth_ == 1) return true;  // the root
    if (!begin_value()) return true;
    if (!fits()) return false;
    frames_.push_back({object, true, static_cast<std::uint32_t>(text_.size()), members_.size()});
    text_ += object ? '{' : '[';
    return true;
  }

  bool close() {
    --depth_;
    if (frames_.empty()) return true;  // the root, or a member no one wants
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

  std::span<const std::string_view> wanted_;
  Members found_;
  size_t text_size_;
  bool reserved_ = false;
  size_t depth_ = 0;
  bool keeping_ = false;
  size_t slot_ = 0;
  std::string text_;
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> members_;  // name offsets of the open objects' members
  std::vector<std::uint32_t> order_;
  std::vector<Prewritten::Reordered> reordered_;
};

bool LeanBuilder::key(string_t& name) {
  if (depth_ == 1) {
    auto wanted = std::find(wanted_.begin(), wanted_.end(), name);
    keeping_ = wanted != wanted_.end();
    slot_ = static_cast<size_t>(wanted - wanted_.begin());
    // A wanted member may be most of the text: room for all of it once, so that it is never
    // copied to grow. Pages not written to cost no memory.
    if (keeping_ && !reserved_) text_.reserve(text_size_);
    reserved_ = reserved_ || keeping_;
    return true;
  }
  if (!keeping_) return true;
  if (!fits()) return false;
  Frame& frame = frames_.back();
  if (!frame.empty) text_ += ',';
  frame.empty = false;
  members_.push_back(static_cast<std::uint32_t>(text_.size()));
  write_string(name, text_);
  text_ += ':';
  return true;
}

void LeanBuilder::close_object() {
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
    // Sorted in place by name, then by place; of equal names the last one counts.
    std::sort(first, members_.end(), before);
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

// Writes text that LeanBuilder wrote, with every noted object's members in their order.
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

std::optional<Members> parse_members(std::string_view text,
                                     std::initializer_list<std::string_view> wanted) {
  if (!acceptable_text(text)) return std::nullopt;
  LeanBuilder builder(std::span<const std::string_view>(wanted.begin(), wanted.size()),
                      text.size());
  if (!Json::sax_parse(text.begin(), text.end(), &builder)) return std::nullopt;
  return builder.take();
}

}  // namespace quorvi::mcp
