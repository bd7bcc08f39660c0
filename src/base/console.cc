#include "base/console.h"

#include "platform/io.h"

namespace quorvi {

int report(std::string_view message) {
  // The message and its line feed in one write, copied nowhere: a message may be megabytes (the
  // app's), and memory may have run out.
  (void)write_pieces(2, {message, "\n"});  // nobody is left to tell; the status still says it
  return 1;
}

int print(std::string_view output) {
  return write_all(1, output) ? 0 : report("Could not write to standard output");
}

int print_line(std::string_view output) {
  return write_pieces(1, {output, "\n"}) ? 0 : report("Could not write to standard output");
}

}  // namespace quorvi
