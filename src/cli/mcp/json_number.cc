#include "cli/mcp/json_number.h"

#include <fmt/compile.h>
#include <fmt/format.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>

// {fmt} rounds its shortest form correctly from 7.1 on (Dragonbox); 8 is the oldest tested.
static_assert(FMT_VERSION >= 80000, "{fmt} 8 or later is needed");

namespace quorvi::mcp {
namespace {

// A decimal `digits` x 10^`exponent`, `digits` without leading or trailing zeros.
struct Decimal {
  char digits[24];  // 17 significant digits identify any double
  int size = 0;
  int exponent = 0;
};

// {fmt}'s "{}" writes the shortest digits that read back as `value`, of equally short ones the
// closest (as std::to_chars does), in a layout of its own: 0.0001, 1234.5, 1e+16, 5e-324. Only
// the digits and their exponent are taken from it.
Decimal shortest(double value) {
  fmt::basic_memory_buffer<char, 40> text;
  fmt::format_to(std::back_inserter(text), FMT_COMPILE("{}"), value);
  const char* at = text.begin();
  const char* end = text.end();
  Decimal decimal;
  int zeros = 0;  // after the last non-zero digit
  bool fraction = false;
  for (; at != end && *at != 'e'; ++at) {
    if (*at == '.') {
      fraction = true;
      continue;
    }
    if (fraction) --decimal.exponent;
    if (*at == '0') {
      zeros += decimal.size > 0;
      continue;
    }
    for (; zeros > 0; --zeros)
      decimal.digits[decimal.size++] = '0';
    decimal.digits[decimal.size++] = *at;
  }
  decimal.exponent += zeros;
  if (at != end) {  // 'e', a sign, digits
    bool negative = at[1] == '-';
    int exponent = 0;
    for (at += 2; at != end; ++at)
      exponent = exponent * 10 + (*at - '0');
    decimal.exponent += negative ? -exponent : exponent;
  }
  return decimal;
}

}  // namespace

void write_shortest(double value, std::string& out) {
  if (std::signbit(value)) out += '-';
  value = std::fabs(value);
  if (value == 0) {
    out += '0';
    return;
  }
  Decimal decimal = shortest(value);
  std::string_view digits(decimal.digits, static_cast<size_t>(decimal.size));
  int point = decimal.size + decimal.exponent;  // digits before the decimal point
  int exponent = point - 1;
  size_t scientific =
      digits.size() + (digits.size() > 1 ? 1 : 0) + 2 + (std::abs(exponent) >= 100 ? 3 : 2);
  size_t fixed = point <= 0 ? 2 + static_cast<size_t>(-point) + digits.size()
                 : point >= static_cast<int>(digits.size()) ? static_cast<size_t>(point)
                                                            : digits.size() + 1;
  if (fixed <= scientific) {
    if (point <= 0) {
      out += "0.";
      out.append(static_cast<size_t>(-point), '0');
      out += digits;
    } else if (point >= static_cast<int>(digits.size())) {
      // An integer past the digits: every digit is written exactly, not padded with zeros.
      char text[32];
      int size = std::snprintf(text, sizeof text, "%.0f", value);
      out.append(text, static_cast<size_t>(size));
    } else {
      out += digits.substr(0, static_cast<size_t>(point));
      out += '.';
      out += digits.substr(static_cast<size_t>(point));
    }
    return;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out += digits.substr(1);
  }
  char text[8];
  int size =
      std::snprintf(text, sizeof text, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  out.append(text, static_cast<size_t>(size));
}

}  // namespace quorvi::mcp
