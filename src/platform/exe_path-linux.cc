#include <unistd.h>

#include "platform/exe_path.h"

namespace quorvi {

// readlink resolves /proc/self/exe itself, which stands in for the path macOS reports. It
// truncates silently, so a result that fills the buffer is retried with a larger one.
std::optional<std::string> executable_path() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    if (buffer.size() >= (1u << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace quorvi
