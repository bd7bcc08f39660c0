// Entry of the native commands: mcp-server, request and help.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvi::mcp {

inline constexpr char kNativeUsage[] =
    "Usage: quorvi mcp-server | quorvi request OPERATION JSON_OBJECT";

// Declines (nothing) when the list is empty or its first word is none of "mcp-server",
// "request", "help"; otherwise handles the command with all its output and returns the status.
std::optional<int> run(const std::vector<std::string>& args);

}  // namespace quorvi::mcp
