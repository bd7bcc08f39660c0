#include "cli/mcp/tool_result.h"

#include <string>
#include <string_view>
#include <utility>

#include "cli/mcp/session.h"

namespace quorvi::mcp {
namespace {

// The result object's parts around its texts, with its members in byte order of their names:
// content, isError, structuredContent.
constexpr std::string_view kContent = "\"content\":[{\"text\":";
constexpr std::string_view kContentEnd = ",\"type\":\"text\"}]";
constexpr std::string_view kStructured = ",\"structuredContent\":";
constexpr std::string_view kResultOpen = "{\"result\":";
constexpr std::string_view kIsError = ",\"isError\":true", kIsNotError = ",\"isError\":false";
// More than the line holds around the result: the id's member, the envelope, the marks of the
// stateless revision.
constexpr size_t kAround = 256;

// A message far too long for a line: its start, cut where a character begins. Escapes make a
// written byte at most six.
std::string shortened(std::string message) {
  size_t keep = kMaxToolResult / 6 - 64;
  if (message.size() <= keep) return message;
  while (keep > 0 && (static_cast<unsigned char>(message[keep]) & 0xC0) == 0x80)
    --keep;
  message.resize(keep);
  return message + "...";
}

// The size of the result object, marks of the stateless revision aside, with a content text of
// `text` bytes, written, and a structuredContent of `structured` bytes (0: none).
size_t result_size(size_t text, bool error, size_t structured) {
  size_t size =
      1 + kContent.size() + text + kContentEnd.size() + (error ? kIsError : kIsNotError).size() + 1;
  if (structured) size += kStructured.size() + structured;
  return size;
}

}  // namespace

void write_tool_response(const Json& id, ConnectorResult outcome, bool stateless,
                         std::string& line) {
  // What goes on the line: the content's text, which is the answer S = {"result":V} or a note,
  // and whether structuredContent carries S too. V is held once; S is written from its pieces
  // wherever it goes.
  const bool error = failed(outcome);
  std::string value, note;
  bool text_is_answer = false, structured = false;
  size_t size;  // of the result object
  if (error) {
    note = std::move(std::get<Message>(outcome).text);
    if (written_string_size({note}) > kMaxToolResult - 64) note = shortened(std::move(note));
    size = result_size(written_string_size({note}), true, 0);
  } else {
    value = std::move(value_of(outcome)).take();
    const size_t answer = kResultOpen.size() + value.size() + 1;
    const size_t answer_text = written_string_size({kResultOpen, value, "}"});
    if ((size = result_size(answer_text, false, answer)) <= kMaxToolResult) {
      text_is_answer = structured = true;  // both forms
    } else if ((size = result_size(answer_text, false, 0)) <= kMaxToolResult) {
      text_is_answer = true;  // the text alone
    } else {
      note = "The result is in structuredContent only (" + std::to_string(answer) + " bytes)";
      size = result_size(written_string_size({note}), false, answer);
      structured = size <= kMaxToolResult;
      if (!structured) {
        note = "The result of " + std::to_string(answer) + " bytes is too large to send";
        size = result_size(written_string_size({note}), false, 0);
      }
    }
  }

  // Room for the whole line at once: a buffer grown by doubling would, while copying, hold up
  // to twice a large answer.
  line.reserve(line.size() + written_size(id) + size + kAround);
  line += "{\"id\":";
  write(id, line);
  line += ",\"jsonrpc\":\"2.0\",\"result\":{";
  if (stateless) {
    line += "\"_meta\":";
    write(server_meta(), line);
    line += ',';
  }
  line += kContent;
  if (text_is_answer) {
    write_string({kResultOpen, value, "}"}, line);
  } else {
    write_string(note, line);
  }
  line += kContentEnd;
  line += error ? kIsError : kIsNotError;
  if (stateless) line += ",\"resultType\":\"complete\"";
  if (structured) {
    line += kStructured;
    line += kResultOpen;
    line += value;
    line += '}';
  }
  line += "}}\n";
}

}  // namespace quorvi::mcp
