#include "main/dispatch.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "base/console.h"
#include "base/utf8.h"
#include "cli/mcp/run.h"
#include "main/url.h"
#include "platform/opener.h"

namespace quorvi {
namespace {

// The help text around the usage line, which the command table writes (url_usage).
constexpr std::string_view kHelpBefore = "Quorvi native CLI\n";
constexpr std::string_view kHelpAfter =
    "\n"
    "quorvi scratchpad [CALCULATION] opens the quick calculator over the current app, for "
    "launchers such as Raycast or Alfred.\n"
    "Set QUORVI_API_TOKEN for existing-note URL queries and mutations.\n"
    "Native JSON and MCP: quorvi request OPERATION JSON_OBJECT | quorvi mcp-server\n"
    "quorvi help all prints the complete connector operation schemas. Enable Desktop connector "
    "in Quorvi Settings.\n";

constexpr std::string_view kVersionLine = "quorvi " QUORVI_VERSION "\n";

// Written as one piece so that a reader never sees part of it.
int print_help() {
  std::string help(kHelpBefore);
  help += url_usage();
  help += kHelpAfter;
  return print(help);
}

bool all_utf8(const std::vector<std::string>& args) {
  return std::all_of(args.begin(), args.end(),
                     [](const std::string& word) { return valid_utf8(word); });
}

bool asks_for_help(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& word) { return word == "-h" || word == "--help"; });
}

}  // namespace

int dispatch(const std::vector<std::string>& args) {
  // Checked before anything else, so that no such word reaches a URL, the connector or the
  // opener.
  if (!all_utf8(args)) return report("Arguments must be valid UTF-8");
  if (args.size() == 1 && args[0] == "--version") return print(kVersionLine);
  if (std::optional<int> status = mcp::run(args)) return *status;
  if (asks_for_help(args)) return print_help();

  Outcome<std::string> built = url(args, api_token());
  if (failed(built)) return report(message_of(built));
  if (!open_url(value_of(built))) return report("Could not open Quorvi");
  return 0;
}

}  // namespace quorvi
