#include "cli/mcp/run.h"

#include <new>
#include <string_view>

#include "base/console.h"
#include "cli/mcp/bridge.h"
#include "cli/mcp/json.h"
#include "cli/mcp/serve.h"
#include "cli/mcp/tools.h"

namespace quorvi::mcp {
namespace {

constexpr char kCatalogueHeader[] =
    "Native connector operations (quorvi request OPERATION JSON_OBJECT):\n";

int serve_stdio() {
  if (failed(serve(0, 1, bridge))) return report("MCP transport closed");
  return 0;
}

int request(const std::string& operation, const std::string& arguments) {
  bool answered = false;
  try {
    // The parser's own account of the fault is not shown.
    std::optional<Json> object = parse(arguments);
    if (!object || !object->is_object()) return report("Arguments must be a JSON object");
    ConnectorResult result = bridge(operation, std::move(*object));
    if (failed(result)) return report(message_of(result));
    answered = true;
    std::string out = write(value_of(result));
    out += '\n';
    return print(out);
  } catch (const std::bad_alloc&) {
    return report(answered ? kResponseMemory : "Not enough memory for the connector request");
  }
}

int help_all() {
  std::string out = kCatalogueHeader;
  out += write_pretty(tools());
  out += '\n';
  return print(out);
}

}  // namespace

std::optional<int> run(const std::vector<std::string>& args) {
  if (args.empty()) return std::nullopt;
  const std::string& command = args.front();
  if (command == "mcp-server") {
    return args.size() == 1 ? serve_stdio() : report(kNativeUsage);
  }
  if (command == "request") {
    return args.size() == 3 ? request(args[1], args[2]) : report(kNativeUsage);
  }
  if (command == "help") {
    return args.size() == 2 && args[1] == "all" ? help_all() : report(kNativeUsage);
  }
  return std::nullopt;
}

}  // namespace quorvi::mcp
