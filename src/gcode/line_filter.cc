#include "gcode/line_filter.h"

#include <cmath>
#include <cstring>

#include "common/decimal.h"
#include "platform/platform.h"
#include "common/run_events.h"

namespace {

// Compared in line: the prefixes are short literals, and this runs for
// every line of a job.
inline bool starts_with(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (*text != *prefix) return false;
  return true;
}

constexpr const char* ignored_whole_lines[] = {"G20", "G40", "G43", "G49", "G53",
                                               "G54", "G61", "G80", "G90"};

}  // namespace

char* strip_line_number(char* line) {
  if (line[0] != 'N') return line;
  const char* end = nullptr;
  read_integer(line + 1, &end);
  char* p = line + (end - line);
  if (*p == ' ') ++p;
  return p;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_axis(char upper) { return upper == 'X' || upper == 'Y' || upper == 'Z'; }

/// Notes what a G or M word whose number is whole asks for.
void note_code(char letter, long code, line_words& words) {
  if (letter == 'G') {
    if (code == 21 || code == 91) words.mode_change = true;
  } else if (letter == 'M') {
    if (code == 0 || code == 1 || code == 6 || code == 60) words.program_stop = true;
    if (code == 6 || code == 60) words.tool_change = true;
    if (code == 98 || code == 99) words.subprogram = true;
    if (code == 2 || code == 30) words.program_end = true;
  }
}

/// Reads the number of the word at `p` (its first character a digit, sign
/// or point; a sign counts as a 0): notes a G or M code that is whole and
/// returns where the number ends, at most one point in it.
const char* read_word_number(char letter, const char* p, line_words& words) {
  if (*p == '-' || *p == '+') ++p;
  if (letter != 'G' && letter != 'M') {
    while (is_digit(*p)) ++p;
    if (*p == '.')
      for (++p; is_digit(*p);) ++p;
    return p;
  }
  long code = 0;  // the whole part, capped
  for (; is_digit(*p); ++p)
    if (code < 100000) code = code * 10 + (*p - '0');
  bool whole = true;  // no digit but 0 after its point
  if (*p == '.')
    for (++p; is_digit(*p); ++p)
      if (*p != '0') whole = false;
  if (whole) note_code(letter, code, words);
  return p;
}

/// Reads the words of `text` up to its end or its first comment, and
/// returns where it stopped: a letter opens a word, blanks may follow it,
/// then its number. A character that ends a word is read again as the
/// start of the next.
const char* read_words(const char* text, line_words& words) {
  const char* p = text;
  for (;;) {
    const char c = *p;
    if (c == '\0' || c == '(' || c == ';') return p;
    if (!is_letter(c)) {
      ++p;
      continue;
    }
    const char letter = c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c;
    ++p;
    while (is_blank(*p)) ++p;
    const char n = *p;
    const bool axis = is_axis(letter);
    if (!is_digit(n) && !(axis && (n == '-' || n == '+' || n == '.'))) continue;
    if (axis) words.axis_word = true;
    if (letter == 'G') words.g_word = true;
    p = read_word_number(letter, p, words);
  }
}

/// Past the parenthesised comment that opens at `p`, nested ones inside it
/// included; null when it never closes.
const char* after_parentheses(const char* p) {
  int depth = 0;
  for (; *p; ++p) {
    if (*p == '(') ++depth;
    if (*p == ')' && --depth == 0) return p + 1;
  }
  return nullptr;
}

/// Writes `line` over itself without its comments, from `out`, the first
/// comment's start; returns the end of the text that stays.
char* remove_comments(char* line, char* out, line_words& words) {
  const char* in = out;
  while (*in) {
    const char c = *in;
    if (c != '(' && c != ';') {
      *out++ = c;
      ++in;
      continue;
    }
    // A comment: it and the blanks around it leave one blank between words.
    bool blank = false;
    while (out > line && is_blank(out[-1])) {
      --out;
      blank = true;
    }
    if (c == ';') break;
    in = after_parentheses(in);
    if (!in) {
      words.open_comment = true;
      break;
    }
    while (is_blank(*in)) {
      ++in;
      blank = true;
    }
    if (blank && out > line && *in && *in != ';') *out++ = ' ';
  }
  return out;
}

}  // namespace

// NOTE: this runs for every line of a job. Most lines hold no comment: their
// words are read in one pass that ends at the line's end. A line with a
// comment is written over itself without it, and its words read again.
void strip_comment(char* line, line_words& words) {
  words = line_words{};
  char* out = line + (read_words(line, words) - line);
  if (*out) {
    words = line_words{};
    out = remove_comments(line, out, words);
    *out = '\0';
    read_words(line, words);
  }
  while (out > line && (is_blank(out[-1]) || out[-1] == '\r' || out[-1] == '\n')) --out;
  *out = '\0';
}

void strip_comment(char* line) {
  line_words words;
  strip_comment(line, words);
}

bool is_unsupported_mode_gcode(const char* line) {
  // Read from a copy: the caller's line stays as it is.
  char copy[2048];
  size_t n = 0;
  while (line[n] && n + 1 < sizeof copy) {
    copy[n] = line[n];
    ++n;
  }
  copy[n] = '\0';
  line_words words;
  strip_comment(copy, words);
  return words.mode_change;
}

unsigned dwell_milliseconds(double value) {
  if (!(value > 0.0)) return 0;  // negative, zero and NaN wait nothing
  if (value >= 4294967295.0) return 4294967295u;
  return static_cast<unsigned>(std::trunc(value));
}

ignored_as ignored_gcode(const char* line, unsigned& milliseconds) {
  char first = line[0];
  if (first == '\0' || first == 'M' || first == 'T' || first == 'S' || first == 'F')
    return ignored_as::yes;
  // Every other ignored code begins with G but "X0Y0"; motion lines, the
  // bulk of a job, leave here after a few comparisons.
  if (first != 'G')
    return first == 'X' && std::strcmp(line, "X0Y0") == 0 ? ignored_as::yes : ignored_as::no;
  if (starts_with(line, "G0 G")) return ignored_as::yes;
  if (starts_with(line, "G04 P")) {
    milliseconds = dwell_milliseconds(read_real(line + 5));
    return ignored_as::dwell;
  }
  // The whole-line codes are three characters long.
  if (line[1] == '\0' || line[2] == '\0' || line[3] != '\0') return ignored_as::no;
  for (const char* code : ignored_whole_lines)
    if (std::strcmp(line, code) == 0) return ignored_as::yes;
  return ignored_as::no;
}

void perform_dwell(unsigned milliseconds) {
  emit_dwell(milliseconds);
  if (milliseconds > 0 && dwells_wait()) platform_sleep_ms(milliseconds);
}

bool is_ignored_gcode(const char* line, bool dwell) {
  unsigned milliseconds = 0;
  const ignored_as how = ignored_gcode(line, milliseconds);
  if (how == ignored_as::dwell && dwell) perform_dwell(milliseconds);
  return how != ignored_as::no;
}

const char* motion_operands(const char* line) {
  if (starts_with(line, "G00 ") || starts_with(line, "G01 ")) return line + 4;
  if (starts_with(line, "G0 ") || starts_with(line, "G1 ")) return line + 3;
  if (line[0] == 'X' || line[0] == 'Y' || line[0] == 'Z') return line;
  return nullptr;
}
