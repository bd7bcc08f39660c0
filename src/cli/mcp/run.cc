#include "cli/mcp/run.h"

#include <new>
#include <string_view>

#include "base/console.h"
#include "base/utf8.h"
#include "cli/mcp/bridge.h"
#include "cli/mcp/json.h"
#include "cli/mcp/serve.h"
#include "cli/mcp/tools.h"
#include "platform/input.h"

namespace quorvi::mcp {
namespace {

constexpr char kCatalogueHeader[] =
    "Native connector operations (quorvi request OPERATION JSON_OBJECT):\n";

int serve_stdio() {
  if (failed(serve(0, 1, bridge))) return report("MCP transport closed");
  return 0;
}

std::string input_message(InputFault fault, const std::string& name) {
  switch (fault) {
    case InputFault::kNoSuchFile: return "No such file: " + name;
    case InputFault::kNotFileOrPipe: return "Not a regular file or pipe: " + name;
    case InputFault::kTooLarge: return kRequestTooLarge;
    case InputFault::kUnreadable: break;
  }
  return "Could not read " + name;
}

// The arguments word itself, or the text it names: "-" standard input, "@PATH" a file. Neither
// can start a JSON object, so no object is ever mistaken for one. Nothing longer than the
// connector takes is read.
[[nodiscard]] Outcome<std::string> arguments_text(const std::string& word) {
  InputRead read;
  std::string name;
  if (word == "-") {
    read = read_at_most(0, kMaxRequestBody);
    name = "standard input";
  } else if (!word.empty() && word.front() == '@') {
    name = word.substr(1);
    read = read_file_at_most(name, kMaxRequestBody);
  } else {
    return word;
  }
  if (const InputFault* fault = std::get_if<InputFault>(&read))
    return fail(input_message(*fault, name));
  // As for a word of the command line, checked before anything is sent.
  if (!valid_utf8(std::get<std::string>(read))) return fail("Arguments must be valid UTF-8");
  return std::move(std::get<std::string>(read));
}

int request(const std::string& operation, const std::string& word) {
  // Whether the request may have reached the app: memory that runs out from then on leaves the
  // user to check the note.
  bool sent = false;
  try {
    Outcome<std::string> arguments = arguments_text(word);
    if (failed(arguments)) return report(message_of(arguments));
    // The parser's own account of the fault is not shown.
    std::optional<Parsed> object = parse(value_of(arguments));
    if (!object || !(*object)->is_object()) return report("Arguments must be a JSON object");
    // The text of the arguments is no longer needed once they are parsed.
    arguments = std::string();
    Outcome<Request> prepared = bridge.prepare(operation, std::move(*object));
    if (failed(prepared)) return report(message_of(prepared));
    sent = true;
    ConnectorResult result = bridge.exchange(std::move(value_of(prepared)));
    if (failed(result)) return report(message_of(result));
    return print_line(std::move(value_of(result)).take());
  } catch (const std::bad_alloc&) {
    return report(sent ? kResponseMemory : kRequestMemory);
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
