#pragma once

namespace quorvi {

// The opener run for callback URLs and for launching the app: "/usr/bin/open" in the shipped
// executable. Fixed when the executable is linked; no search, no variable, no option.
extern const char* const kOpenerPath;

}  // namespace quorvi
