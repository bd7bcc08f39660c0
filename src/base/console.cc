#include "base/console.h"

#include <stdlib.h>

#include <cstring>

#include "base/visible.h"
#include "platform/io.h"

namespace quorvi {
namespace {

// Writes `prefix`, `text` (in its visible form when `visible`) and a line feed, gathered on the
// stack: a short line goes out in one write, and a long one allocates nothing either.
bool write_line(int fd, std::string_view prefix, std::string_view text, bool visible) {
  if (!visible) return write_pieces(fd, {prefix, text, "\n"});
  char buffer[4096];
  size_t used = 0;
  bool written = true;
  auto add = [&](std::string_view piece) {
    if (piece.size() > sizeof buffer - used) {
      written = written && write_all(fd, std::string_view(buffer, used));
      used = 0;
      if (piece.size() > sizeof buffer) {
        written = written && write_all(fd, piece);
        return;
      }
    }
    std::memcpy(buffer + used, piece.data(), piece.size());
    used += piece.size();
  };
  add(prefix);
  for_each_visible(text, add);
  add("\n");
  return written && write_all(fd, std::string_view(buffer, used));
}

bool standard_error_is_terminal() {
  static const bool terminal = is_terminal(2);
  return terminal;
}

}  // namespace

int report(std::string_view message) {
  // Nobody is left to tell when standard error fails; the status still says it.
  (void)write_line(2, "", message, standard_error_is_terminal());
  return 1;
}

int print(std::string_view output) {
  return write_all(1, output) ? 0 : report("Could not write to standard output");
}

int print_line(std::string_view output) {
  return write_line(1, "", output, is_terminal(1)) ? 0
                                                   : report("Could not write to standard output");
}

bool tracing() {
  static const bool asked = [] {
    const char* value = ::getenv("QUORVI_TRACE");
    return value && std::strcmp(value, "1") == 0;
  }();
  return asked;
}

void trace(std::string_view line) {
  if (tracing()) (void)write_line(2, "quorvi: trace: ", line, true);
}

}  // namespace quorvi
