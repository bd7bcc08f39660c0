// The opener: the one program quorvi hands URLs and the app launch to ("/usr/bin/open" in the
// shipped executable). Its path is fixed when an executable is linked (platform/opener_path.cc,
// one definition per executable): no search, no variable, no option.
#pragma once

#include <optional>
#include <string>

namespace quorvi {

extern const char* const kOpenerPath;

// Runs the opener with the URL as its only argument, inheriting the standard streams, and
// waits. True only when it started and exited with status 0.
[[nodiscard]] bool open_url(const std::string& url);

// Asks the opener to start the app bundle at `app` in the background, with the argument that
// tells the app it was started so; the opener's standard descriptors are the null device. Waits
// for the opener. Its exit status (nothing when it did not start or was killed) is for the
// trace alone: only a connector that answers afterwards tells whether the app came up.
std::optional<int> launch_in_background(const std::string& app);

}  // namespace quorvi
