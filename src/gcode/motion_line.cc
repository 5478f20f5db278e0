#include "gcode/motion_line.h"

#include "gcode/axis_words.h"
#include "gcode/line_filter.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

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
  for (int a = 0; a < axis_count; ++a) {
    if (*p != axis_table[a].name) continue;
    size_t length = 0;
    out.named[a] = true;
    out.target[a] = parse_number(p + 1, length);
    if (!misread && !is_plain_number(p + 1, length)) misread = p;
    p += 1 + length;
    // Z is the last operand; X and Y may be followed by one blank.
    if (a != axis_z && *p == ' ') ++p;
  }
  if (misread) {
    out.end = misread;
    return operand_reading::misread;
  }
  out.end = p;
  return holds_axis_word(p) ? operand_reading::lost : operand_reading::complete;
}
