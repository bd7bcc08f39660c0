#include "main/opener.h"

#include "platform/opener_path.h"
#include "platform/process.h"

namespace quorvi {

bool open_url(const std::string& url) {
  return run_and_wait(kOpenerPath, {url}, ChildOutput::inherit) == 0;
}

}  // namespace quorvi
