// Finding the app's connector: candidate Automation directories, privacy checks, the
// rendezvous file connection.json, and the connection with its deadlines.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"
#include "platform/fd.h"

namespace quorvi::mcp {

inline constexpr char kConnectorOff[] = "Open Quorvi and enable Desktop connector in Settings";
inline constexpr char kBadPermissions[] = "Connector endpoint permissions are invalid";

enum class EndpointKind { kDirectory, kRegularFile, kSocket };

// A connected socket (15 s receive and 5 s send deadlines, close-on-exec, no SIGPIPE) and the
// 72-byte token to send with the request.
struct Connection {
  Fd socket;
  std::string token;
};

// What connection.json names, after its checks.
struct Rendezvous {
  std::string socket;
  std::string token;
};

// The Automation directories to try, in order.
struct Candidates {
  std::vector<std::string> directories;
  // Named by QUORVI_BRIDGE_DIR: the one place to look, where a launched app would not publish
  // itself, so no launch is tried.
  bool fixed = false;
};

// QUORVI_BRIDGE_DIR alone when set (fixed), else the primary directory under HOME and, when that
// is absent, the group-container directory.
[[nodiscard]] Outcome<Candidates> directories();

// The path is no symlink and does not end in "." or "..", is closed to group and others, owned by
// the effective user and of the expected kind.
[[nodiscard]] Outcome<Ok> check_private(const std::string& path, EndpointKind kind);

// Checks of the rendezvous bytes: size, JSON, "socket" form, "token" length.
[[nodiscard]] Outcome<Rendezvous> read_rendezvous(std::string_view bytes);

// When connects stop waiting for a connector that does not take the connection.
using ConnectDeadline = std::chrono::steady_clock::time_point;

// The first candidate that connects, or the message that explains the failure. Each connect
// waits at most the 5-second send timeout, and never past `deadline`.
[[nodiscard]] Outcome<Connection> connect_any(const std::vector<std::string>& candidates,
                                              ConnectDeadline deadline = ConnectDeadline::max());

}  // namespace quorvi::mcp
