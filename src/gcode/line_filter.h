// Normalising and classifying one trimmed G-code line. The dialect is
// narrow: inches, absolute coordinates, linear moves only; everything that
// moves no axis is either ignored or rejected.
#pragma once

/// The line without a leading N-word ("N10 G01 X1" -> "G01 X1").
char* strip_line_number(char* line);

/// What one reading of a line's text outside its comments found. A word is
/// a letter, in either case, then any blanks, then its number; a G or M
/// word's number counts when it is whole ("G091", "G91.000" are G91; "G91.1"
/// is not).
struct line_words {
  bool open_comment = false;  // a "(" whose ")" never comes
  bool axis_word = false;     // X, Y or Z with a number (sign or point first too)
  bool g_word = false;        // any G word
  bool mode_change = false;   // G21 or G91: millimetres or relative coordinates
  bool program_stop = false;  // M0, M1, M6, M60: a stop or a tool change
  bool tool_change = false;   // M6, M60: of those, what an operator's continue cannot do
  bool subprogram = false;    // M98, M99
  bool program_end = false;   // M2, M30
};

/// Removes the comments of `line` in place: the text inside parentheses
/// (nested ones included) and everything from a ";" outside them. A comment
/// and the blanks around it leave one blank between the words on either side
/// ("X1 (a) Y2" reads "X1 Y2"), none at the line's start; trailing blanks
/// go. `words` tells what the text that stays holds, read in the same pass.
void strip_comment(char* line, line_words& words);
void strip_comment(char* line);

/// Whether `found` holds at some position of `text` outside its comments:
/// text inside parentheses, and all after a ";".
template <typename Found>
bool found_outside_comments(const char* text, Found found) {
  int depth = 0;
  for (const char* p = text; *p; ++p) {
    if (*p == '(')
      ++depth;
    else if (*p == ')' && depth > 0)
      --depth;
    else if (depth == 0 && *p == ';')
      return false;
    else if (depth == 0 && found(p))
      return true;
  }
  return false;
}

/// Codes that would change the meaning of every later coordinate (G21
/// millimetres, G91 relative moves), in any spelling, anywhere outside the
/// comments of a line. The machine takes inches and absolute coordinates
/// only, so such a line must fail rather than run 25.4 times too large or
/// from the wrong origin.
bool is_unsupported_mode_gcode(const char* line);

/// How the filter takes a line that produces no motion.
enum class ignored_as {
  no,     // the line may move: a motion line, or a code this dialect refuses
  yes,    // ignored whole
  dwell,  // a "G04 P" dwell, also ignored
};

/// How `line` is ignored, read without waiting; for a dwell `milliseconds`
/// receives its wait.
ignored_as ignored_gcode(const char* line, unsigned& milliseconds);

/// Waits a dwell's milliseconds (where the run's dwells wait) and tells it.
void perform_dwell(unsigned milliseconds);

/// True for a line that produces no motion. When `dwell` is true a "G04 P"
/// line also waits its milliseconds.
bool is_ignored_gcode(const char* line, bool dwell);

/// The operand text of a linear motion line, or null for none.
const char* motion_operands(const char* line);

/// The dwell in whole milliseconds that a "G04 P" value asks for. Negative
/// values wait nothing, and values beyond the 32-bit millisecond range wait
/// the longest time that range holds (about 49.7 days).
unsigned dwell_milliseconds(double value);
