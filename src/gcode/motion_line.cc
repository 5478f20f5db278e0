#include "gcode/motion_line.h"

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

}  // namespace

bool is_plain_number(const char* text, size_t length) {
  size_t i = 0, digits = 0, points = 0;
  if (i < length && text[i] == '-') ++i;
  for (; i < length; ++i) {
    if (is_digit(text[i])) ++digits;
    else if (text[i] == '.' && points == 0) ++points;
    else return false;
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
    out.named[a] = true;
    out.target[a] = parse_number(p + 1, length);
    if (!misread) {
      verdict = is_plain_number(p + 1, length) ? number_end(p + 1 + length)
                                               : operand_reading::misread;
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
    case ignored_as::yes: out.kind = line_kind::ignored; return;
    case ignored_as::dwell: out.kind = line_kind::dwell; return;
    case ignored_as::no: break;
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
