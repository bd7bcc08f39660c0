// Text that quorvi did not compose (the app's messages, names from the command line) as a
// terminal may be given it: one line that drives nothing. Every C0 control, DEL and C1 control
// (U+0080 to U+009F) is written as an escape, \n, \r and \t or \u00XX with the code point,
// as JSON writes them, so that inside a JSON string they keep their meaning; each byte that is
// not part of a UTF-8 character becomes \xHH. Everything else, other Unicode included, stays as
// it is.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvi {

// Calls `sink` with the visible form of `text`, piece by piece: runs of `text` itself and short
// escapes, none allocated.
template <class Sink>
void for_each_visible(std::string_view text, Sink&& sink);

// The escape for the character of `length` bytes at `at`, written into `out` (room for 6), or
// 0 when it is shown as it is.
size_t visible_escape(std::string_view text, size_t at, size_t length, char* out);
// The length of the character at `at` (1 for a byte that is not UTF-8).
size_t visible_length(std::string_view text, size_t at);

template <class Sink>
void for_each_visible(std::string_view text, Sink&& sink) {
  size_t run = 0;
  for (size_t at = 0; at < text.size();) {
    size_t length = visible_length(text, at);
    char escape[8];
    size_t size = visible_escape(text, at, length, escape);
    if (size > 0) {
      if (at > run) sink(text.substr(run, at - run));
      sink(std::string_view(escape, size));
      run = at + length;
    }
    at += length;
  }
  if (run < text.size()) sink(text.substr(run));
}

}  // namespace quorvi
