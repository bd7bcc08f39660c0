#pragma once

#include <string>
#include <vector>

namespace quorvi {

// Runs the one job that the argument list (program name excluded) asks for, writes its output
// and returns the exit status, 0 or 1.
int dispatch(const std::vector<std::string>& args);

}  // namespace quorvi
