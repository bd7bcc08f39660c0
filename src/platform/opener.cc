#include "platform/opener.h"

#include "platform/process.h"

namespace quorvi {

bool open_url(const std::string& url) {
  return run_and_wait(kOpenerPath, {url}, ChildOutput::kInherit) == 0;
}

void launch_in_background(const std::string& app) {
  (void)run_and_wait(kOpenerPath, {"-g", "-j", "-a", app, "--args", "--quorvi-background"},
                     ChildOutput::kNullDevice);
}

}  // namespace quorvi
