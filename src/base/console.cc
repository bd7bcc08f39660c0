#include "base/console.h"

#include <string>

#include "platform/io.h"

namespace quorvi {

int report(std::string_view message) {
  std::string line(message);
  line += '\n';
  write_all(2, line);
  return 1;
}

int print(std::string_view output) {
  return write_all(1, output) ? 0 : report("Could not write to standard output");
}

}  // namespace quorvi
