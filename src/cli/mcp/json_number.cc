#include "cli/mcp/json_number.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace quorvi::mcp {
namespace {

// A decimal `digits` x 10^`exponent`, `digits` without leading or trailing zeros.
struct Decimal {
  char digits[24];
  int size = 0;
  int exponent = 0;
};

// strtod rounds correctly (on glibc and on macOS alike): it tells whether a text reads back as
// `value`.
bool reads_back(const Decimal& decimal, double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*se%d", decimal.size, decimal.digits, decimal.exponent);
  return std::strtod(text, nullptr) == value;
}

void trim(Decimal& decimal) {
  while (decimal.size > 1 && decimal.digits[decimal.size - 1] == '0') {
    --decimal.size;
    ++decimal.exponent;
  }
}

// The correctly rounded decimal of `digits` significant digits (printf's %e rounds exactly,
// so this is the closest such decimal).
Decimal rounded(double value, int digits) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
  Decimal decimal;
  const char* at = text;
  for (; *at != 'e'; ++at) {
    if (*at != '.') decimal.digits[decimal.size++] = *at;
  }
  decimal.exponent = std::atoi(at + 1) - (decimal.size - 1);
  trim(decimal);
  return decimal;
}

// The decimal of `size` significant digits next to `decimal` (size at most decimal.size), below
// it (rounded toward zero) or above it.
Decimal neighbour(const Decimal& decimal, int size, bool above) {
  Decimal next = decimal;
  next.size = size;
  next.exponent = decimal.exponent + (decimal.size - size);
  bool exact = size == decimal.size;
  if (exact && !above) {  // one unit less in the last place; digits end in a non-zero digit
    --next.digits[size - 1];
  } else if (above) {
    int at = size - 1;
    while (at >= 0 && next.digits[at] == '9')
      next.digits[at--] = '0';
    if (at >= 0) {
      ++next.digits[at];
    } else {  // 99 -> 100
      next.digits[0] = '1';
      next.size = 1;
      next.exponent += size;
    }
  }
  trim(next);
  return next;
}

// Grisu2 (the JSON library's algorithm) gives digits that read back, but now and then one digit
// more than needed, or not the closest of their length. Up to 15 digits neither can happen:
// two decimals of at most 15 digits that read back as one double are equal. Past that, the
// neighbours tell.
Decimal shortest(double value) {
  Decimal decimal;
  nlohmann::detail::dtoa_impl::grisu2(decimal.digits, decimal.size, decimal.exponent, value);
  trim(decimal);
  if (decimal.size <= 15) return decimal;
  int size = decimal.size;
  if (reads_back(neighbour(decimal, size - 1, false), value) ||
      reads_back(neighbour(decimal, size - 1, true), value)) {
    // Rare: a shorter one exists; search upward.
    for (int digits = 1; digits < size; ++digits) {
      Decimal candidate = rounded(value, digits);
      if (reads_back(candidate, value)) return candidate;
    }
  }
  if (!reads_back(neighbour(decimal, size, false), value) &&
      !reads_back(neighbour(decimal, size, true), value)) {
    return decimal;  // the only one of its length
  }
  Decimal closest = rounded(value, size);
  return closest.size <= size && reads_back(closest, value) ? closest : decimal;
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
