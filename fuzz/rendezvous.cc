// The rendezvous file: whatever is accepted names a well-formed socket and a 72-byte token.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "cli/mcp/discovery.h"

namespace {

bool name_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto outcome = quorvi::mcp::read_rendezvous(bytes);
  if (quorvi::failed(outcome)) {
    const std::string& message = quorvi::message_of(outcome);
    FUZZ_CHECK(message == "Invalid connector discovery file" ||
               message == "Invalid connector endpoint" ||
               message == "Invalid connector authorization");
    return 0;
  }
  const quorvi::mcp::Rendezvous& found = quorvi::value_of(outcome);
  FUZZ_CHECK(size <= 4096);
  FUZZ_CHECK(found.token.size() == 72);
  const std::string& socket = found.socket;
  FUZZ_CHECK(socket.size() >= 7 && socket.starts_with("q-") && socket.ends_with(".sock"));
  for (char c : socket)
    FUZZ_CHECK(name_byte(c));
  return 0;
}
