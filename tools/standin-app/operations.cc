#include "operations.h"

#include <map>
#include <optional>
#include <string>

#include "arguments.h"

namespace quorvi::standin {
namespace {

using mcp::Json;
using Reply = Outcome<Json>;

// Attachments larger than this are refused, as the catalogue tells clients.
constexpr size_t kMaxAttachmentBytes = 700 * 1024;
// An attachment grown by later pieces may reach this, so that its base64 still fits an answer.
constexpr size_t kMaxGrownAttachmentBytes = 6000000;
constexpr uint64_t kDefaultLimit = 50;

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view strip_marks(std::string_view text) {
  while (!text.empty() && text.front() == '#')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == '#')
    text.remove_suffix(1);
  return text;
}

std::string title_of(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

Json summary(const Note& note) {
  return {{"archived", note.archived}, {"id", note.id},     {"pinned", note.pinned},
          {"revision", note.revision}, {"tags", note.tags}, {"title", title_of(note.text)},
          {"trashed", note.trashed}};
}

// Decoded size of base64 text, or nothing when it is not base64 with "=" padding.
std::optional<size_t> base64_size(const std::string& data) {
  if (data.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    char c = data[i];
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '+' || c == '/';
    if (c == '=' && i + 2 >= data.size()) {
      ++padding;
    } else if (!letter || padding > 0) {
      return std::nullopt;
    }
  }
  return data.size() / 4 * 3 - padding;
}

Json view(const Note& note) {
  Json result = summary(note);
  result["text"] = note.text;
  Json attachments = Json::array();
  for (const auto& attachment : note.attachments) {
    attachments.push_back({{"id", attachment.id},
                           {"name", attachment.name},
                           {"size", base64_size(attachment.data).value_or(0)}});
  }
  result["attachments"] = std::move(attachments);
  return result;
}

void touch(Store& store, Note& note) {
  note.revision = "rev-" + std::to_string(store.next_revision++);
}

[[nodiscard]] Outcome<Note*> find_visible(Store& store, const Scope& scope, const std::string& id) {
  for (auto& note : store.notes) {
    if (note.id == id && visible(note, scope)) return &note;
  }
  return fail("Note not found");
}

// A visible note that may change: not in Trash, and still at `revision` when one is given.
[[nodiscard]] Outcome<Note*> find_editable(Store& store, const Scope& scope, const std::string& id,
                                           const std::optional<std::string>& revision) {
  auto found = find_visible(store, scope, id);
  if (failed(found)) return found;
  Note* note = value_of(found);
  if (note->trashed) return fail("Note is in Trash");
  if (revision && *revision != note->revision) return fail("Note has changed since it was read");
  return note;
}

bool matches(const Note& note, std::string_view query) {
  std::string text = lower(note.text);
  while (!query.empty()) {
    size_t end = 0;
    while (end < query.size() && !is_space(query[end]))
      ++end;
    std::string_view word = query.substr(0, end);
    query.remove_prefix(end);
    while (!query.empty() && is_space(query.front()))
      query.remove_prefix(1);
    if (word.empty()) continue;
    if (word.front() == '#') {
      std::string tag = lower(strip_marks(word));
      if (!tag.empty() && !has_tag(note, tag)) return false;
    } else if (text.find(lower(word)) == std::string::npos) {
      return false;
    }
  }
  return true;
}

Reply search(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  auto query = maybe_text(args, "query", bad);
  auto offset = maybe_count(args, "offset", 0, UINT64_MAX, bad);
  auto limit = maybe_count(args, "limit", 1, 200, bad);
  auto include_trash = maybe_flag(args, "includeTrash", bad);
  if (!bad.empty()) return bad_argument(bad);
  Json notes = Json::array();
  uint64_t total = 0;
  uint64_t first = offset.value_or(0), count = limit.value_or(kDefaultLimit);
  for (const auto& note : store.notes) {
    if (!visible(note, scope) || (note.trashed && !include_trash.value_or(false))) continue;
    if (!matches(note, query.value_or(""))) continue;
    if (total >= first && total - first < count) notes.push_back(summary(note));
    ++total;
  }
  return Json{{"limit", count}, {"notes", std::move(notes)}, {"offset", first}, {"total", total}};
}

Reply tags(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  std::string query = lower(maybe_text(args, "query", bad).value_or(""));
  auto include_trash = maybe_flag(args, "includeTrash", bad);
  if (!bad.empty()) return bad_argument(bad);
  std::map<std::string, uint64_t> counts;
  for (const auto& note : store.notes) {
    if (!visible(note, scope) || (note.trashed && !include_trash.value_or(false))) continue;
    for (const auto& tag : note.tags) {
      std::string name = lower(tag);
      if (name.find(query) != std::string::npos) ++counts[name];
    }
  }
  Json list = Json::array();
  for (const auto& [name, count] : counts)
    list.push_back({{"count", count}, {"name", name}});
  return Json{{"tags", std::move(list)}};
}

Reply read(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  std::string id = text(args, "id", bad);
  if (!bad.empty()) return bad_argument(bad);
  auto note = find_visible(store, scope, id);
  if (failed(note)) return failure_of(note);
  return view(*value_of(note));
}

Reply create(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  Note note;
  note.text = text(args, "text", bad);
  note.tags = split_tags(maybe_text(args, "tags", bad).value_or(""));
  if (!bad.empty()) return bad_argument(bad);
  if (!visible(note, scope)) return fail("Note is outside the connector tag scope");
  note.id = "note-" + std::to_string(store.next_note++);
  touch(store, note);
  store.notes.push_back(std::move(note));
  return view(store.notes.back());
}

// The shared shape of the edits: read the arguments, find the editable note, change it.
template <class Change>
Reply edit(Store& store, const Scope& scope, const Json& args, std::string& bad, Change change) {
  std::string id = text(args, "id", bad);
  auto revision = maybe_text(args, "revision", bad);
  if (!bad.empty()) return bad_argument(bad);
  auto found = find_editable(store, scope, id, revision);
  if (failed(found)) return failure_of(found);
  return change(*value_of(found));
}

Reply add_text(Store& store, const Scope& scope, const Json& args, bool at_end) {
  std::string bad;
  std::string added = text(args, "text", bad);
  return edit(store, scope, args, bad, [&](Note& note) -> Reply {
    if (note.text.empty()) {
      note.text = added;
    } else {
      note.text = at_end ? note.text + "\n" + added : added + "\n" + note.text;
    }
    touch(store, note);
    return view(note);
  });
}

Reply append(Store& store, const Scope& scope, const Json& args) {
  return add_text(store, scope, args, true);
}

Reply prepend(Store& store, const Scope& scope, const Json& args) {
  return add_text(store, scope, args, false);
}

Reply replace(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  std::string replacement = text(args, "text", bad);
  text(args, "revision", bad);  // required here, optional elsewhere
  return edit(store, scope, args, bad, [&](Note& note) -> Reply {
    note.text = replacement;
    touch(store, note);
    return view(note);
  });
}

Reply add_tags(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  auto added = split_tags(text(args, "tags", bad));
  return edit(store, scope, args, bad, [&](Note& note) -> Reply {
    Note changed = note;
    for (const auto& tag : added) {
      if (!has_tag(changed, lower(tag))) changed.tags.push_back(tag);
    }
    if (!visible(changed, scope)) return fail("Note is outside the connector tag scope");
    note.tags = std::move(changed.tags);
    touch(store, note);
    return view(note);
  });
}

Reply remove_tags(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  auto removed = split_tags(text(args, "tags", bad));
  return edit(store, scope, args, bad, [&](Note& note) -> Reply {
    std::erase_if(note.tags, [&](const std::string& tag) {
      for (const auto& gone : removed) {
        if (lower(gone) == lower(tag)) return true;
      }
      return false;
    });
    touch(store, note);
    if (!visible(note, scope)) return Json{{"id", note.id}, {"outOfScope", true}};
    return view(note);
  });
}

Reply set_flag(Store& store, const Scope& scope, const Json& args, bool Note::*field) {
  std::string bad;
  bool enabled = flag(args, "enabled", bad);
  return edit(store, scope, args, bad, [&](Note& note) -> Reply {
    note.*field = enabled;
    touch(store, note);
    return view(note);
  });
}

Reply pin(Store& store, const Scope& scope, const Json& args) {
  return set_flag(store, scope, args, &Note::pinned);
}

Reply archive(Store& store, const Scope& scope, const Json& args) {
  return set_flag(store, scope, args, &Note::archived);
}

// Unlike the other edits this one reaches notes in Trash, so that they can be restored.
Reply trash(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  bool enabled = flag(args, "enabled", bad);
  std::string id = text(args, "id", bad);
  auto revision = maybe_text(args, "revision", bad);
  if (!bad.empty()) return bad_argument(bad);
  auto found = find_visible(store, scope, id);
  if (failed(found)) return failure_of(found);
  Note& note = *value_of(found);
  if (revision && *revision != note.revision) return fail("Note has changed since it was read");
  note.trashed = enabled;
  touch(store, note);
  return view(note);
}

Reply read_attachment(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  std::string id = text(args, "id", bad);
  std::string attachment_id = text(args, "attachmentId", bad);
  if (!bad.empty()) return bad_argument(bad);
  auto note = find_visible(store, scope, id);
  if (failed(note)) return failure_of(note);
  for (const auto& attachment : value_of(note)->attachments) {
    if (attachment.id != attachment_id) continue;
    return Json{{"data", attachment.data},
                {"id", attachment.id},
                {"name", attachment.name},
                {"size", base64_size(attachment.data).value_or(0)}};
  }
  return fail("Attachment not found");
}

Reply attach(Store& store, const Scope& scope, const Json& args) {
  std::string bad;
  std::string name = text(args, "name", bad);
  std::string data = text(args, "data", bad);
  auto grown = maybe_text(args, "attachmentId", bad);
  return edit(store, scope, args, bad, [&](Note& note) -> Reply {
    auto size = base64_size(data);
    if (!size) return fail("Attachment data is not valid base64");
    if (*size > kMaxAttachmentBytes) return fail("Attachment exceeds 700 KB");
    if (grown) {
      for (auto& attachment : note.attachments) {
        if (attachment.id != *grown) continue;
        std::string joined = attachment.data + data;
        auto joined_size = base64_size(joined);
        if (!joined_size) return fail("Attachment data is not valid base64");
        if (*joined_size > kMaxGrownAttachmentBytes) return fail("Attachment exceeds 6 MB");
        attachment.data = std::move(joined);
        touch(store, note);
        return view(note);
      }
      return fail("Attachment not found");
    }
    note.attachments.push_back(
        {"att-" + std::to_string(store.next_attachment++), name, std::move(data)});
    touch(store, note);
    return view(note);
  });
}

constexpr Operation kTable[] = {
    {"search", search},
    {"tags", tags},
    {"read", read},
    {"create", create},
    {"append", append},
    {"prepend", prepend},
    {"replace", replace},
    {"add_tags", add_tags},
    {"remove_tags", remove_tags},
    {"pin", pin},
    {"archive", archive},
    {"trash", trash},
    {"read_attachment", read_attachment},
    {"attach", attach},
};

}  // namespace

const Operation* find_operation(std::string_view name) {
  for (const auto& entry : kTable) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace quorvi::standin
