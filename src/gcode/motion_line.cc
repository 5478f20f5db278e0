#include "gcode/motion_line.h"

#include <cstdint>

#include "common/decimal.h"
#include "gcode/axis_words.h"
#include "gcode/line_filter.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

/// What follows an axis word's number at `p`: nothing, or after any blanks
/// the letter of another word. An E straight after the digits is the
/// number's exponent, which the reading does not take.
operand_reading number_end(const char* p) {
  if (*p == 'e' || *p == 'E') return operand_reading::exponent;
  while (*p == ' ' || *p == '\t') ++p;
  return *p == '\0' || is_letter(*p) ? operand_reading::complete : operand_reading::misread;
}

bool is_axis_letter(char c) {
  return c == 'X' || c == 'Y' || c == 'Z' || c == 'x' || c == 'y' || c == 'z';
}

/// An axis letter followed by blanks and then a number's first character.
bool starts_axis_word(const char* p) {
  if (!is_axis_letter(*p)) return false;
  ++p;
  while (*p == ' ' || *p == '\t') ++p;
  return is_digit(*p) || *p == '-' || *p == '+' || *p == '.';
}

/// A G word: G in either case, then blanks, then a digit. After the
/// operands it would be dropped: "G01 X1 G02" must not run as a straight
/// move, nor "G01 X1 G04 P2" without its dwell.
bool starts_g_word(const char* p) {
  if (*p != 'G' && *p != 'g') return false;
  ++p;
  while (*p == ' ' || *p == '\t') ++p;
  return is_digit(*p);
}

/// An axis word or a G word: what the text after the operands must not hold.
bool starts_dropped_word(const char* p) { return starts_axis_word(p) || starts_g_word(p); }

/// The value of a plain number of at most 15 digits. Its digits make a
/// whole number below 2^53, exact in a double, and a division by a power of
/// ten up to 10^22, exact too, is rounded once: the value is the nearest
/// double, as the general reading gives it.
double plain_number_value(const char* text, size_t length) {
  static constexpr double powers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = text[0] == '-';
  int64_t whole = 0;
  int decimals = -1;  // digits after the point, once there is one
  for (size_t i = negative ? 1 : 0; i < length; ++i) {
    if (text[i] == '.') {
      decimals = 0;
      continue;
    }
    whole = whole * 10 + (text[i] - '0');
    if (decimals >= 0) ++decimals;
  }
  const double value = static_cast<double>(whole) / powers[decimals < 0 ? 0 : decimals];
  return negative ? -value : value;
}

/// parse_number and is_plain_number in one pass: the number text at `text`
/// (digits, "-" and "."), its length, and whether it is plain.
double read_operand_number(const char* text, size_t& length, bool& plain) {
  size_t n = text[0] == '-' ? 1 : 0;
  size_t digits = 0, points = 0;
  plain = true;
  for (;; ++n) {
    const char c = text[n];
    if (is_digit(c))
      ++digits;
    else if (c == '.')
      plain = plain && points++ == 0;
    else if (c == '-')
      plain = false;
    else
      break;
  }
  plain = plain && digits > 0;
  length = n;
  if (plain && digits <= 15) return plain_number_value(text, n);
  return read_real_n(text, n);
}

}  // namespace

bool is_plain_number(const char* text, size_t length) {
  size_t i = 0, digits = 0, points = 0;
  if (i < length && text[i] == '-') ++i;
  for (; i < length; ++i) {
    if (is_digit(text[i]))
      ++digits;
    else if (text[i] == '.' && points == 0)
      ++points;
    else
      return false;
  }
  return digits > 0;
}

bool holds_axis_word(const char* text) { return found_outside_comments(text, starts_axis_word); }

operand_reading read_motion_operands(const char* operands, motion_targets& out) {
  out = motion_targets{};
  const char* p = operands;
  const char* misread = nullptr;
  operand_reading verdict = operand_reading::complete;
  for (int a = 0; a < axis_count; ++a) {
    if (*p != axis_table[a].name) continue;
    size_t length = 0;
    bool plain = false;
    out.named[a] = true;
    out.target[a] = read_operand_number(p + 1, length, plain);
    if (!misread) {
      verdict = plain ? number_end(p + 1 + length) : operand_reading::misread;
      if (verdict != operand_reading::complete) misread = p;
    }
    p += 1 + length;
    // Z is the last operand; X and Y may be followed by one blank.
    if (a != axis_z && *p == ' ') ++p;
  }
  if (misread) {
    out.end = misread;
    return verdict;
  }
  out.end = p;
  return found_outside_comments(p, starts_dropped_word) ? operand_reading::lost
                                                        : operand_reading::complete;
}

void read_gcode_line(char* line, line_reading& out) {
  out.words = line_words{};
  strip_comment(line, out.words);
  char* text = strip_line_number(line);
  out.text = text;
  out.operands = nullptr;
  out.dwell_ms = 0;
  out.reading = operand_reading::complete;
  out.motion_word = false;
  out.rapid = false;
  switch (ignored_gcode(text, out.dwell_ms)) {
    case ignored_as::yes:
      out.kind = line_kind::ignored;
      return;
    case ignored_as::dwell:
      out.kind = line_kind::dwell;
      return;
    case ignored_as::no:
      break;
  }
  const char* operands = motion_operands(text);
  if (!operands) {
    out.kind = line_kind::other;
    return;
  }
  out.kind = line_kind::motion;
  out.operands = operands;
  out.motion_word = operands != text;
  out.rapid = out.motion_word && text[1] == '0' && text[2] != '1';
  out.reading = read_motion_operands(operands, out.targets);
}
