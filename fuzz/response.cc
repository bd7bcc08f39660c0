// The connector's response body: any bytes give a value or exactly one of the documented
// messages, never a crash, and the outcome agrees with what the body says.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "cli/mcp/bridge.h"

using quorvi::mcp::Json;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  quorvi::mcp::ConnectorResult outcome = quorvi::mcp::response_outcome(body);
  std::optional<Json> value = quorvi::mcp::parse(body);
  if (!value) {
    FUZZ_CHECK(quorvi::failed(outcome));
    FUZZ_CHECK(quorvi::message_of(outcome) == "Invalid connector response");
    return 0;
  }
  const Json* error = nullptr;
  const Json* result = nullptr;
  if (value->is_object()) {
    auto found = value->find("error");
    if (found != value->end() && found->is_string()) error = &*found;
    found = value->find("result");
    if (found != value->end()) result = &*found;
  }
  if (error) {
    FUZZ_CHECK(quorvi::failed(outcome));
    FUZZ_CHECK(quorvi::message_of(outcome) == error->get_ref<const std::string&>());
    return 0;
  }
  FUZZ_CHECK(!quorvi::failed(outcome));
  const Json& got = quorvi::value_of(outcome);
  FUZZ_CHECK(quorvi::mcp::write(got) == (result ? quorvi::mcp::write(*result) : "null"));
  return 0;
}
