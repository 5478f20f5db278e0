#include "gcode/line_filter.h"

#include <cmath>
#include <cstring>

#include "common/decimal.h"
#include "platform/platform.h"
#include "common/run_events.h"

namespace {

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
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

/// Reads the words of the text that stays as strip_comment writes it, one
/// character at a time: a letter opens a word, blanks may follow it, and a
/// G or M word's number is taken as a whole code or none.
struct word_reader {
  enum class at { between, letter, number } state = at::between;
  char letter = 0;       // upper case
  long code = 0;         // the whole part of a G or M number, capped
  bool whole = true;     // no digit but 0 after its point
  bool fraction = false;

  void finish(line_words& words) {
    if (state == at::number && whole) {
      if (letter == 'G') {
        if (code == 21 || code == 91) words.mode_change = true;
      } else if (letter == 'M') {
        if (code == 0 || code == 1 || code == 6 || code == 60) words.program_stop = true;
        if (code == 98 || code == 99) words.subprogram = true;
        if (code == 2 || code == 30) words.program_end = true;
      }
    }
    state = at::between;
  }

  void start_number(char c, line_words& words) {
    state = at::number;
    code = 0;
    whole = true;
    fraction = false;
    if (letter == 'X' || letter == 'Y' || letter == 'Z') words.axis_word = true;
    if (letter == 'G') words.g_word = true;
    take_digit(c);
  }

  void take_digit(char c) {
    if (c == '.') {
      fraction = true;
    } else if (fraction) {
      if (c != '0') whole = false;
    } else if (code < 100000) {
      code = code * 10 + (c - '0');
    }
  }

  void take(char c, line_words& words) {
    if (state == at::number) {
      if (is_digit(c) || (c == '.' && !fraction)) {
        take_digit(c);
        return;
      }
      finish(words);
    }
    if (state == at::letter) {
      if (is_blank(c)) return;
      const bool axis = letter == 'X' || letter == 'Y' || letter == 'Z';
      if (is_digit(c) || (axis && (c == '-' || c == '+' || c == '.'))) {
        start_number(c == '-' || c == '+' ? '0' : c, words);
        return;
      }
      state = at::between;
    }
    if (is_letter(c)) {
      state = at::letter;
      letter = c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c;
    }
  }
};

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

}  // namespace

// NOTE: this runs for every line of a job, so the comments go and the words
// are read in one pass that writes the kept text over the line; a line
// without comments is read once and written over itself.
void strip_comment(char* line, line_words& words) {
  words = line_words{};
  word_reader reader;
  const char* in = line;
  char* out = line;
  while (*in) {
    const char c = *in;
    if (c != '(' && c != ';') {
      *out++ = c;
      reader.take(c, words);
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
    if (blank && out > line && *in && *in != ';') {
      *out++ = ' ';
      reader.take(' ', words);
    }
  }
  while (out > line && (is_blank(out[-1]) || out[-1] == '\r' || out[-1] == '\n')) --out;
  *out = '\0';
  reader.finish(words);
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

bool is_ignored_gcode(const char* line, bool dwell) {
  char first = line[0];
  if (first == '\0' || first == 'M' || first == 'T' || first == 'S' || first == 'F') return true;
  // Every other ignored code begins with G but "X0Y0"; motion lines, the
  // bulk of a job, leave here after a few comparisons.
  if (first != 'G') return first == 'X' && std::strcmp(line, "X0Y0") == 0;
  if (starts_with(line, "G0 G")) return true;
  if (starts_with(line, "G04 P")) {
    if (dwell) {
      unsigned ms = dwell_milliseconds(read_real(line + 5));
      emit_dwell(ms);
      if (ms > 0 && dwells_wait()) platform_sleep_ms(ms);
    }
    return true;
  }
  if (line[1] == '\0' || line[2] == '\0' || line[3] != '\0') return false;  // not three long
  for (const char* code : ignored_whole_lines)
    if (std::strcmp(line, code) == 0) return true;
  return false;
}

const char* motion_operands(const char* line) {
  if (starts_with(line, "G00 ") || starts_with(line, "G01 ")) return line + 4;
  if (starts_with(line, "G0 ") || starts_with(line, "G1 ")) return line + 3;
  if (line[0] == 'X' || line[0] == 'Y' || line[0] == 'Z') return line;
  return nullptr;
}
