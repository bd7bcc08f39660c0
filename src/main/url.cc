#include "main/url.h"

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "base/utf8.h"
#include "quorvi_cli/encode.h"

namespace quorvi {
namespace {

constexpr char kScheme[] = "quorvi://x-callback-url/";

// One positional word after the command word. A required word has no fallback; an optional
// one takes `fallback` when missing, or is left out of the query when that is null too.
struct Positional {
  const char* key;
  bool required;
  const char* fallback;
};

// One command: how it becomes a URL, and what the usage line, the help text and the shell
// completions say of it (url_commands).
struct CommandRow {
  std::string_view word;
  const char* action;
  std::array<Positional, 2> positionals;  // key == nullptr ends the list
  size_t limit;                           // most words accepted, the command word included
  bool with_mode;                         // adds mode = the command word
  bool needs_token;
  std::string_view summary;  // what it does
  std::string_view undo;     // what --undo does instead; empty: --undo does not apply
};

constexpr Positional kNone{nullptr, false, nullptr};
constexpr Positional kId{"id", true, nullptr};
constexpr Positional kText{"text", true, nullptr};
constexpr Positional kNoteText{"text", false, "# "};
constexpr Positional kTerm{"term", false, ""};
constexpr Positional kCalc{"text", false, nullptr};

constexpr CommandRow kCommands[] = {
    {"new", "create", {kNoteText, kNone}, 2, false, false, "create a note", ""},
    {"search", "search", {kTerm, kNone}, 2, false, false, "search the notes in the app", ""},
    {"open", "open-note", {kId, kNone}, 2, false, false, "open a note", ""},
    {"append", "add-text", {kId, kText}, 3, true, true, "add text at the end of a note", ""},
    {"prepend", "add-text", {kId, kText}, 3, true, true, "add text at the start of a note", ""},
    {"replace", "add-text", {kId, kText}, 3, true, true, "replace the text of a note", ""},
    {"trash", "trash", {kId, kNone}, 2, false, true, "move a note to the trash", "restores"},
    {"archive", "archive", {kId, kNone}, 2, false, true, "archive a note", "unarchives"},
    {"pin", "pin", {kId, kNone}, 2, false, true, "pin a note", "unpins"},
    {"notes", "notes", {kTerm, kNone}, 2, false, true, "list notes in the app", ""},
    {"tags", "tags", {kNone, kNone}, 1, false, true, "list tags in the app", ""},
    {"scratchpad", "scratchpad", {kCalc, kNone}, 2, false, false, "open the quick calculator", ""},
};

using Parameters = std::vector<std::pair<std::string, std::string>>;

const CommandRow* find_command(std::string_view word) {
  for (const CommandRow& row : kCommands) {
    if (row.word == word) return &row;
  }
  return nullptr;
}

std::string with_placeholder(std::string_view text, std::string_view word) {
  std::string out(text);
  out.replace(out.find("{}"), 2, word);
  return out;
}

// "--undo applies to trash, archive, or pin"
std::string undo_refusal() {
  std::vector<std::string_view> words;
  for (const CommandRow& row : kCommands) {
    if (!row.undo.empty()) words.push_back(row.word);
  }
  std::string out = "--undo applies to ";
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += i + 1 < words.size() ? ", " : ", or ";
    out += words[i];
  }
  return out;
}

std::string build(const char* action, const Parameters& parameters) {
  std::string out = kScheme;
  out += action;
  char separator = '?';
  for (const auto& [key, value] : parameters) {
    out += separator;
    out += key;
    out += '=';
    out += encode(value);
    separator = '&';
  }
  return out;
}

}  // namespace

std::vector<CommandWord> url_commands() {
  std::vector<CommandWord> out;
  for (const CommandRow& row : kCommands)
    out.push_back({row.word, row.summary, row.undo});
  return out;
}

std::string url_usage() {
  std::string out = "Usage: quorvi [--callback URL] ";
  for (const CommandRow& row : kCommands) {
    if (&row != kCommands) out += '|';
    out += row.word;
  }
  return out + " [arguments]";
}

Outcome<std::string> url(std::vector<std::string> args, const std::optional<std::string>& token) {
  Parameters parameters;
  // Only the first of each option counts; a later one stays as an ordinary word.
  if (auto at = std::find(args.begin(), args.end(), "--callback"); at != args.end()) {
    if (at + 1 == args.end()) return fail("--callback requires a URL");
    parameters.emplace_back("x-success", *(at + 1));
    args.erase(at, at + 2);
  }
  bool undo = false;
  if (auto at = std::find(args.begin(), args.end(), "--undo"); at != args.end()) {
    args.erase(at);
    undo = true;
  }
  if (args.empty()) return fail(url_usage());

  const std::string& word = args.front();
  const CommandRow* row = find_command(word);
  if (!row) return fail(with_placeholder("Unknown command: {}", word));

  size_t next = 1;
  for (const Positional& positional : row->positionals) {
    if (!positional.key) break;
    if (next < args.size()) {
      parameters.emplace_back(positional.key, args[next++]);
    } else if (positional.required) {
      return fail(with_placeholder("Missing argument for {}", word));
    } else if (positional.fallback) {
      parameters.emplace_back(positional.key, positional.fallback);
    }
  }
  if (row->with_mode) parameters.emplace_back("mode", word);
  if (args.size() > row->limit) return fail("Unexpected extra arguments");

  if (undo) {  // adds value = "false"
    if (row->undo.empty()) return fail(undo_refusal());
    parameters.emplace_back("value", "false");
  }
  if (row->needs_token) {
    if (!token || token->empty()) {
      return fail("Set QUORVI_API_TOKEN from Quorvi Settings \xE2\x86\x92 Automation");
    }
    parameters.emplace_back("token", *token);
  }
  return build(row->action, parameters);
}

std::optional<std::string> api_token() {
  const char* value = ::getenv("QUORVI_API_TOKEN");
  if (!value || !valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

}  // namespace quorvi
