// Writes a shell completion file from its template, putting the words the program offers where
// the template says: the callback-URL commands of the command table ("@COMMANDS@"), those that
// take --undo ("@UNDOABLE@") and the connector operations of the tool catalogue
// ("@OPERATIONS@"), so that the completions never list a word the program does not offer.
//
// Usage: quorvi-gen-completions bash|zsh|fish TEMPLATE OUTPUT
#include <stdio.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/outcome.h"
#include "cli/mcp/json.h"
#include "cli/mcp/tools.h"
#include "main/url.h"

namespace quorvi::gen {
namespace {

// A word to offer, with what it does.
struct Choice {
  std::string word;
  std::string summary;
};

// Words are written unquoted into shell code, so only [a-z_] is let through.
bool plain_word(std::string_view word) {
  if (word.empty()) return false;
  for (char c : word) {
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

[[nodiscard]] Outcome<std::vector<Choice>> operations(const mcp::Json& catalogue) {
  std::vector<Choice> out;
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
    if (!plain_word(operation)) return fail("unexpected operation name: " + operation);
    out.push_back({operation, first_sentence(description->get_ref<const std::string&>())});
  }
  if (out.empty()) return fail("empty catalogue");
  return out;
}

// The callback-URL commands as the shell shows them: zsh adds what --undo does ("move a note
// to the trash (--undo restores)"); fish starts with a capital ("Move a note to the trash").
[[nodiscard]] Outcome<std::vector<Choice>> commands(std::string_view shell,
                                                    const std::vector<CommandWord>& table) {
  std::vector<Choice> out;
  for (const CommandWord& command : table) {
    std::string word(command.word);
    if (!plain_word(word)) return fail("unexpected command word: " + word);
    std::string summary(command.summary);
    if (summary.empty()) return fail("command without a summary: " + word);
    if (shell == "zsh" && !command.undo.empty())
      summary += " (--undo " + std::string(command.undo) + ")";
    if (shell == "fish") summary[0] = static_cast<char>(std::toupper(summary[0]));
    out.push_back({word, summary});
  }
  if (out.empty()) return fail("no commands");
  return out;
}

// The words of the commands that take --undo: a bash or zsh pattern's alternatives
// ("trash|archive|pin"), or fish's list of words.
[[nodiscard]] Outcome<std::string> undoable(std::string_view shell,
                                            const std::vector<CommandWord>& table) {
  std::string out;
  for (const CommandWord& command : table) {
    if (command.undo.empty()) continue;
    if (!plain_word(command.word))
      return fail("unexpected command word: " + std::string(command.word));
    if (!out.empty()) out += shell == "fish" ? ' ' : '|';
    out += command.word;
  }
  if (out.empty()) return fail("no command takes --undo");
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

// bash: the words on one line. zsh: one word:summary element per line of an array. fish: one
// complete command per word, offered where `__quorvi_expects` finds one of `kinds`, so that
// each carries its summary.
[[nodiscard]] Outcome<std::string> render(std::string_view shell,
                                          const std::vector<Choice>& choices,
                                          std::string_view kinds) {
  std::string out;
  for (const Choice& choice : choices) {
    if (shell == "bash") {
      if (!out.empty()) out += ' ';
      out += choice.word;
    } else if (shell == "zsh") {
      if (!out.empty()) out += "\n    ";
      out += zsh_quote(choice.word + ":" + choice.summary);
    } else if (shell == "fish") {
      if (!out.empty()) out += '\n';
      out += "complete -c quorvi -n '__quorvi_expects " + std::string(kinds) + "' -a " +
             choice.word + " -d " + fish_quote(choice.summary);
    } else {
      return fail("unknown shell: " + std::string(shell));
    }
  }
  return out;
}

using Fillings = std::vector<std::pair<std::string_view, std::string>>;

// Each placeholder is in the template exactly once.
[[nodiscard]] Outcome<std::string> fill(std::string text, const Fillings& fillings) {
  for (const auto& [placeholder, filling] : fillings) {
    size_t at = text.find(placeholder);
    if (at == std::string::npos) return fail("template has no " + std::string(placeholder));
    if (text.find(placeholder, at + 1) != std::string::npos)
      return fail("template has more than one " + std::string(placeholder));
    text.replace(at, placeholder.size(), filling);
  }
  return text;
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
  Outcome<std::vector<Choice>> ops = operations(mcp::tools());
  if (failed(ops)) return failure_of(ops);
  Outcome<std::string> op_list = render(shell, value_of(ops), "operation");
  if (failed(op_list)) return failure_of(op_list);
  std::vector<CommandWord> table = url_commands();
  Outcome<std::vector<Choice>> words = commands(shell, table);
  if (failed(words)) return failure_of(words);
  Outcome<std::string> command_list = render(shell, value_of(words), "first command");
  if (failed(command_list)) return failure_of(command_list);
  Outcome<std::string> undo_list = undoable(shell, table);
  if (failed(undo_list)) return failure_of(undo_list);
  Outcome<std::string> text = read_text(input);
  if (failed(text)) return failure_of(text);
  Outcome<std::string> filled = fill(value_of(text), {{"@COMMANDS@", value_of(command_list)},
                                                      {"@UNDOABLE@", value_of(undo_list)},
                                                      {"@OPERATIONS@", value_of(op_list)}});
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
