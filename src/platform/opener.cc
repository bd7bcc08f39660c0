#include "platform/opener.h"

#include "platform/process.h"

namespace quorvi {

bool open_url(const std::string& url) {
  return run_and_wait(kOpenerPath, {url}, ChildOutput::kInherit) == 0;
}

std::optional<int> launch_in_background(const std::string& app) {
  return run_and_wait(kOpenerPath, {"-g", "-j", "-a", app, "--args", "--quorvi-background"},
                      ChildOutput::kNullDevice);
}

}  // namespace quorvi
