// Writes a shell completion file from its template, putting the connector operations of the
// tool catalogue where the template says "@OPERATIONS@", so that the completions never list
// an operation the program does not offer.
//
// Usage: quorvi-gen-completions bash|zsh|fish TEMPLATE OUTPUT
#include <stdio.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"
#include "cli/mcp/json.h"
#include "cli/mcp/tools.h"

namespace quorvi::gen {
namespace {

constexpr std::string_view kPlaceholder = "@OPERATIONS@";

struct Operation {
  std::string name;
  std::string summary;  // the description's first sentence, without its full stop
};

// Operation names are written unquoted into shell code, so only [a-z_] is let through.
bool plain_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
  }
  return true;
}

std::string first_sentence(const std::string& text) {
  size_t end = text.find(". ");
  if (end == std::string::npos) end = text.size();
  std::string sentence = text.substr(0, end);
  if (!sentence.empty() && sentence.back() == '.') sentence.pop_back();
  return sentence;
}

[[nodiscard]] Outcome<std::vector<Operation>> operations(const mcp::Json& catalogue) {
  std::vector<Operation> out;
  std::string_view prefix = mcp::kToolPrefix;
  for (const mcp::Json& tool : catalogue) {
    auto name = tool.find("name");
    auto description = tool.find("description");
    if (name == tool.end() || !name->is_string() || description == tool.end() ||
        !description->is_string())
      return fail("catalogue entry without a name or description");
    const std::string& full = name->get_ref<const std::string&>();
    if (full.compare(0, prefix.size(), prefix) != 0) return fail("tool without prefix: " + full);
    std::string operation = full.substr(prefix.size());
    if (!plain_name(operation)) return fail("unexpected operation name: " + operation);
    out.push_back({operation, first_sentence(description->get_ref<const std::string&>())});
  }
  if (out.empty()) return fail("empty catalogue");
  return out;
}

// Inside single quotes, zsh ends the quote at ' and nothing else.
std::string zsh_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Inside single quotes, fish treats \' and \\ as escapes.
std::string fish_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

// bash: the names on one line. zsh: one name:summary element per line of an array. fish: one
// complete command per operation, so that each carries its summary.
[[nodiscard]] Outcome<std::string> render(std::string_view shell,
                                          const std::vector<Operation>& ops) {
  std::string out;
  for (const Operation& op : ops) {
    if (shell == "bash") {
      if (!out.empty()) out += ' ';
      out += op.name;
    } else if (shell == "zsh") {
      if (!out.empty()) out += "\n    ";
      out += zsh_quote(op.name + ":" + op.summary);
    } else if (shell == "fish") {
      if (!out.empty()) out += '\n';
      out += "complete -c quorvi -n '__quorvi_expects operation' -a " + op.name + " -d " +
             fish_quote(op.summary);
    } else {
      return fail("unknown shell: " + std::string(shell));
    }
  }
  return out;
}

[[nodiscard]] Outcome<std::string> fill(const std::string& text, const std::string& operations) {
  size_t at = text.find(kPlaceholder);
  if (at == std::string::npos) return fail("template has no " + std::string(kPlaceholder));
  std::string out = text;
  out.replace(at, kPlaceholder.size(), operations);
  if (out.find(kPlaceholder) != std::string::npos)
    return fail("template has more than one " + std::string(kPlaceholder));
  return out;
}

[[nodiscard]] Outcome<std::string> read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) return fail("cannot read " + path);
  return text.str();
}

[[nodiscard]] Outcome<Ok> write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) return fail("cannot write " + path);
  return Ok{};
}

[[nodiscard]] Outcome<Ok> generate(const std::string& shell, const std::string& input,
                                   const std::string& output) {
  Outcome<std::vector<Operation>> ops = operations(mcp::tools());
  if (failed(ops)) return failure_of(ops);
  Outcome<std::string> list = render(shell, value_of(ops));
  if (failed(list)) return failure_of(list);
  Outcome<std::string> text = read_text(input);
  if (failed(text)) return failure_of(text);
  Outcome<std::string> filled = fill(value_of(text), value_of(list));
  if (failed(filled)) return failure_of(filled);
  return write_text(output, value_of(filled));
}

}  // namespace
}  // namespace quorvi::gen

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "Usage: quorvi-gen-completions bash|zsh|fish TEMPLATE OUTPUT\n");
    return 1;
  }
  quorvi::Outcome<quorvi::Ok> done = quorvi::gen::generate(argv[1], argv[2], argv[3]);
  if (quorvi::failed(done)) {
    fprintf(stderr, "quorvi-gen-completions: %s\n", quorvi::message_of(done).c_str());
    return 1;
  }
  return 0;
}
