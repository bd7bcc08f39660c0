#include "cli/mcp/tool_result.h"

#include <string>
#include <utility>

namespace quorvi::mcp {
namespace {

Json text_content(Json text) {
  return Json::array({Json::object({{"text", std::move(text)}, {"type", "text"}})});
}

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

}  // namespace

Json tool_result(ConnectorResult outcome) {
  Json result = Json::object();
  if (failed(outcome)) {
    std::string& message = std::get<Message>(outcome).text;
    if (written_size(Json(message)) > kMaxToolResult - 64) message = shortened(std::move(message));
    result["content"] = text_content(std::move(message));
    result["isError"] = true;
    return result;
  }
  // S is held once, as the text of the content block; structuredContent repeats it.
  Json text_form;
  {
    std::string value = std::move(value_of(outcome)).take();
    text_form = prewritten_string({"{\"result\":", value, "}"});
  }
  const size_t structured_size = text_form.get_binary().size();
  result["content"] = text_content(std::move(text_form));
  result["isError"] = false;
  result["structuredContent"] = repeat_text();
  if (written_size(result) <= kMaxToolResult) return result;  // both forms

  result.erase("structuredContent");
  if (written_size(result) <= kMaxToolResult) return result;  // the text alone

  const std::string size = std::to_string(structured_size);
  Json structured = unquoted(std::move(result["content"][0]["text"]));
  result["content"] = text_content("The result is in structuredContent only (" + size + " bytes)");
  result["structuredContent"] = std::move(structured);
  if (written_size(result) <= kMaxToolResult) return result;  // structuredContent alone

  Json too_large = Json::object();
  too_large["content"] = text_content("The result of " + size + " bytes is too large to send");
  too_large["isError"] = false;
  return too_large;
}

}  // namespace quorvi::mcp
