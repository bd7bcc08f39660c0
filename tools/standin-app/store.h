// The stand-in's notes, kept in memory for the life of the process, and the fourteen
// connector operations over them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/mcp/json.h"

namespace quorvi::standin {

struct Attachment {
  std::string id;
  std::string name;
  std::string data;  // base64, as attached
};

struct Note {
  std::string id;
  std::string text;
  std::vector<std::string> tags;  // as written, without "#", no case-insensitive duplicates
  std::string revision;           // changes on every edit
  bool pinned = false;
  bool archived = false;
  bool trashed = false;
  std::vector<Attachment> attachments;
};

struct Store {
  std::vector<Note> notes;  // in creation order
  uint64_t next_note = 1;
  uint64_t next_revision = 1;
  uint64_t next_attachment = 1;
};

// Tags lower-cased by the client; the app lower-cases them again before comparing.
struct Scope {
  std::vector<std::string> only;
  std::vector<std::string> exclude;
};

// Answers one request body: {"result": ...} on success, {"error": "..."} otherwise.
mcp::Json answer(Store& store, std::string_view body, std::string_view token);

// True when the note carries `lowered` in any case.
bool has_tag(const Note& note, const std::string& lowered);

// A note is visible when it has one of `only` (if any are given) and none of `exclude`.
bool visible(const Note& note, const Scope& scope);

// Splits comma-separated tags, trims white space and "#" marks, drops empty pieces and
// case-insensitive repeats.
std::vector<std::string> split_tags(std::string_view text);

// Full Unicode lower case (ASCII only if the text is not UTF-8).
std::string lower(std::string_view text);

}  // namespace quorvi::standin
