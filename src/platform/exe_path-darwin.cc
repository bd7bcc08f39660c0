#include <mach-o/dyld.h>

#include <cstdint>
#include <cstring>

#include "platform/exe_path.h"

namespace quorvi {

// _NSGetExecutablePath reports the path the program was started by, symlinks unresolved. When
// the buffer is too small it fails and sets the size it needs; one retry at that size follows.
std::optional<std::string> executable_path() {
  std::string buffer(1024, '\0');
  uint32_t size = static_cast<uint32_t>(buffer.size());
  if (::_NSGetExecutablePath(buffer.data(), &size) != 0) {
    buffer.assign(size, '\0');
    if (::_NSGetExecutablePath(buffer.data(), &size) != 0) return std::nullopt;
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

}  // namespace quorvi
