#include "common/decimal.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }

/// Reads the digits of an integer after white space and sign. `negative`
/// tells the sign; `magnitude` is clamped to `limit`. Returns the end of the
/// digits, or nullptr when no digit was read.
const char* scan_integer(const char* text, bool& negative, uint64_t& magnitude, uint64_t limit) {
  const char* p = text;
  while (is_space(*p)) ++p;
  negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  if (!is_digit(*p)) return nullptr;
  magnitude = 0;
  for (; is_digit(*p); ++p) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    if (magnitude > limit) magnitude = limit + 1;  // keep it from growing; clamped later
  }
  return p;
}

}  // namespace

double read_real_n(const char* text, size_t length) {
  const char* p = text;
  const char* end = text + length;
  while (p < end && is_space(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = (*p == '-');
    ++p;
  }
  // Find the longest run that forms a decimal number: digits, an optional
  // fraction, then an exponent only when digits follow its letter and sign.
  const char* start = p;
  const char* q = p;
  size_t mantissa_digits = 0;
  while (q < end && is_digit(*q)) ++q, ++mantissa_digits;
  if (q < end && *q == '.') {
    ++q;
    while (q < end && is_digit(*q)) ++q, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return 0.0;
  if (q < end && (*q == 'e' || *q == 'E')) {
    const char* e = q + 1;
    if (e < end && (*e == '+' || *e == '-')) ++e;
    if (e < end && is_digit(*e)) {
      while (e < end && is_digit(*e)) ++e;
      q = e;
    }
  }
  double value = 0.0;
  // from_chars takes no leading '+', no hexadecimal and, on the run found
  // above, no "inf"/"nan": it reads exactly the decimal text.
  auto [ptr, ec] = std::from_chars(start, q, value, std::chars_format::general);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: tell them apart by the exponent.
    const char* e = start;
    while (e < q && *e != 'e' && *e != 'E') ++e;
    bool tiny = false;
    if (e < q) {
      tiny = (e + 1 < q && e[1] == '-');
    } else {
      tiny = false;  // a plain digit run can only overflow
    }
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return negative ? -value : value;
}

double read_real(const char* text) {
  // Bound the scan by the terminator without a separate strlen pass.
  const char* p = text;
  while (*p) {
    if (!(is_space(*p) || is_digit(*p) || *p == '+' || *p == '-' || *p == '.' || *p == 'e' ||
          *p == 'E'))
      break;
    ++p;
  }
  return read_real_n(text, static_cast<size_t>(p - text));
}

int32_t read_integer(const char* text, const char** end) {
  bool negative = false;
  uint64_t magnitude = 0;
  const uint64_t limit = 2147483648ULL;
  const char* stop = scan_integer(text, negative, magnitude, limit);
  if (end) *end = stop ? stop : text;
  if (!stop) return 0;
  if (negative) {
    if (magnitude >= limit) return std::numeric_limits<int32_t>::min();
    return -static_cast<int32_t>(magnitude);
  }
  if (magnitude >= limit) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(magnitude);
}

uint32_t read_unsigned(const char* text, const char** end) {
  bool negative = false;
  uint64_t magnitude = 0;
  const uint64_t limit = 4294967295ULL;
  const char* stop = scan_integer(text, negative, magnitude, limit);
  if (end) *end = stop ? stop : text;
  if (!stop) return 0;
  if (magnitude > limit) return std::numeric_limits<uint32_t>::max();
  uint32_t value = static_cast<uint32_t>(magnitude);
  return negative ? static_cast<uint32_t>(0u - value) : value;
}
