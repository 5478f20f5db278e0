// Normalising and classifying one trimmed G-code line. The dialect is
// narrow: inches, absolute coordinates, linear moves only; everything that
// moves no axis is either ignored or rejected.
#pragma once

/// The line without a leading N-word ("N10 G01 X1" -> "G01 X1").
char* strip_line_number(char* line);

/// Removes a ";" comment that starts the line and a parenthesised comment
/// that ends it, in place.
void strip_comment(char* line);

/// Whether `found` holds at some position of `text` outside its comments:
/// text inside parentheses, and all after a ";".
template <typename Found>
bool found_outside_comments(const char* text, Found found) {
  for (const char* p = text; *p; ++p) {
    if (*p == ';') return false;
    if (*p == '(') {
      while (*p && *p != ')') ++p;
      if (!*p) return false;
      continue;
    }
    if (found(p)) return true;
  }
  return false;
}

/// Codes that would change the meaning of every later coordinate (G21
/// millimetres, G91 relative moves). The machine takes inches and absolute
/// coordinates only, so such a line must fail rather than run 25.4 times too
/// large or from the wrong origin. This holds inside an otherwise ignored
/// "G0 G..." preamble too.
bool is_unsupported_mode_gcode(const char* line);

/// True for a line that produces no motion. When `dwell` is true a "G04 P"
/// line also waits its milliseconds.
bool is_ignored_gcode(const char* line, bool dwell);

/// The operand text of a linear motion line, or null for none.
const char* motion_operands(const char* line);

/// The dwell in whole milliseconds that a "G04 P" value asks for. Negative
/// values wait nothing, and values beyond the 32-bit millisecond range wait
/// the longest time that range holds (about 49.7 days).
unsigned dwell_milliseconds(double value);
