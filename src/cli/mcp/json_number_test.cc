#include "cli/mcp/json_number.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace quorvi::mcp {
namespace {

std::string shortest(double value) {
  std::string out;
  write_shortest(value, out);
  return out;
}

// The standard library's formatter is the reference where it exists (not on older macOS): on
// chosen edges, then on random bits, fractions, powers of two, subnormals and integers.
TEST(JsonNumber, MatchesTheStandardFormatter) {
  const double edges[] = {0.1,
                          -0.0,
                          1e15,
                          123456789012345.0,
                          1e22,
                          1e23,
                          1.5e-7,
                          0.000123,  // fixed wins a tie of lengths
                          0.0001,    // {fmt} writes it fixed, the standard formatter not
                          5e-324,
                          2.2250738585072014e-308,  // the smallest normal
                          2.225073858507201e-308,   // the largest subnormal
                          1.7976931348623157e308,
                          9007199254740993.0,
                          9007199254740995.0,
                          0x1p-1022,
                          0x1p+1023,
                          0x1p+60,
                          218470626061754144.0,    // an integer past the digits, exactly
                          1238149735313913.2,      // the closest of the shortest
                          3.556169393814842e-26};  // no digit more than needed
  std::mt19937_64 random(7);
  auto reference = [](double value) {
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
  };
  int differing = 0;
  for (int i = 0; i < 100000; ++i) {
    std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (i % 5 == 1) value = static_cast<double>(random() % 100000000) / (1 + random() % 10000);
    if (i % 5 == 2) value = std::ldexp(1.0, static_cast<int>(random() % 2100) - 1074);
    if (i % 5 == 3) value = std::ldexp(static_cast<double>(bits >> 12), -1074);  // subnormal
    if (i % 5 == 4) value = static_cast<double>(bits >> (random() % 64));        // integer
    if (i < int(std::size(edges))) value = edges[i];
    if (!std::isfinite(value)) continue;
    if (shortest(value) != reference(value) && ++differing <= 5)
      ADD_FAILURE() << reference(value) << " written as " << shortest(value);
  }
}

}  // namespace
}  // namespace quorvi::mcp
