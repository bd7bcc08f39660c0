// The connector's response body: any bytes give a value or a message, never a crash, and a body
// that is not one JSON value is always the documented refusal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "cli/mcp/answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string body(reinterpret_cast<const char*>(data), size);
  quorvi::Outcome<quorvi::mcp::Prewritten> outcome = quorvi::mcp::read_answer(body);
  if (!quorvi::mcp::parse(body)) {
    FUZZ_CHECK(quorvi::failed(outcome));
    FUZZ_CHECK(quorvi::message_of(outcome) == "Invalid connector response");
  }
  return 0;
}
