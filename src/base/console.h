// How every command ends: a result on standard output, or one message line on standard error.
#pragma once

#include <string_view>

namespace quorvi {

// Writes the message and a line feed to standard error; returns the failure status 1. If
// standard error itself cannot be written there is nobody left to tell; the status still says
// it.
int report(std::string_view message);

// Writes a result to standard output; returns 0, or reports "Could not write to standard
// output" and returns 1, so that a lost result is never taken for success.
int print(std::string_view output);
// The same, with a line feed after the output.
int print_line(std::string_view output);

}  // namespace quorvi
