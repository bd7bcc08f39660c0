#include "base/console.h"

#include <string>

#include "platform/io.h"

namespace quorvi {

int report(std::string_view message) {
  std::string line(message);
  line += '\n';
  (void)write_all(2, line);  // nobody is left to tell; the status still says it
  return 1;
}

int print(std::string_view output) {
  return write_all(1, output) ? 0 : report("Could not write to standard output");
}

}  // namespace quorvi
