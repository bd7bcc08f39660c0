// How every command ends: a result on standard output, or one message line on standard error.
// Nothing here allocates, so that a message can still be given when memory has run out.
#pragma once

#include <string_view>

namespace quorvi {

// Writes the message and a line feed to standard error; returns the failure status 1. On a
// terminal the message is written in its visible form (base/visible.h): it may hold the app's
// text. If standard error itself cannot be written there is nobody left to tell; the status
// still says it.
int report(std::string_view message);

// Writes a result to standard output; returns 0, or reports "Could not write to standard
// output" and returns 1, so that a lost result is never taken for success.
int print(std::string_view output);
// The same for a result of the app's, as one line: on a terminal in its visible form, which for
// JSON text is the same JSON.
int print_line(std::string_view output);

// One line of the trace that QUORVI_TRACE=1 asks for, on standard error behind "quorvi: trace: ",
// always in its visible form; nothing when the variable is not 1.
void trace(std::string_view line);
// Whether the trace is asked for: callers build a line only then.
bool tracing();

}  // namespace quorvi
