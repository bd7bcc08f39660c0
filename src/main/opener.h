#pragma once

#include <string>

namespace quorvi {

// Runs the opener with the URL as its only argument, inheriting the standard streams, and
// waits. True only when it started and exited with status 0.
bool open_url(const std::string& url);

}  // namespace quorvi
