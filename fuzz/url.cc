// Callback URLs: any argument list (the input split at NUL bytes) gives a URL of plain ASCII
// with no byte that needs encoding, or a refusal; `encode` output decodes to its input.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "main/url.h"
#include "quorvi_cli/encode.h"

namespace {

bool unreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower case is not what the encoder writes
}

std::optional<std::string> decode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (unreserved(text[i])) {
      out.push_back(text[i]);
      continue;
    }
    if (text[i] != '%' || i + 2 >= text.size() || hex_value(text[i + 1]) < 0 ||
        hex_value(text[i + 2]) < 0) {
      return std::nullopt;
    }
    out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
    i += 2;
  }
  return out;
}

// What may stand in a finished URL: the scheme's own punctuation and the encoder's output.
bool url_byte(char c) {
  return unreserved(c) || c == ':' || c == '/' || c == '?' || c == '&' || c == '=' || c == '%';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (size_t start = 0;;) {
    size_t end = input.find('\0', start);
    args.emplace_back(input.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  for (const std::string& arg : args) {
    std::string encoded = quorvi::encode(arg);
    std::optional<std::string> decoded = decode(encoded);
    FUZZ_CHECK(decoded && *decoded == arg);
  }

  // Odd sizes also carry an API token, so that the commands that need one get past it.
  std::optional<std::string> token;
  if (size % 2) token = "token-123";
  auto outcome = quorvi::url(args, token);
  if (quorvi::failed(outcome)) {
    FUZZ_CHECK(!quorvi::message_of(outcome).empty());
    return 0;
  }
  const std::string& url = quorvi::value_of(outcome);
  FUZZ_CHECK(url.starts_with("quorvi://x-callback-url/"));
  for (char c : url)
    FUZZ_CHECK(url_byte(c));
  return 0;
}
