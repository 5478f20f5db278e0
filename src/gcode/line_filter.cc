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

void strip_comment(char* line) {
  if (line[0] == ';') {
    line[0] = '\0';
    return;
  }
  size_t length = std::strlen(line);
  if (length == 0 || line[length - 1] != ')') return;
  char* open = std::strchr(line, '(');
  if (!open) return;
  *open = '\0';
  char* end = open;
  while (end > line && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n'))
    --end;
  *end = '\0';
}

namespace {
bool is_digit(char c) { return c >= '0' && c <= '9'; }

/// Whether `line` holds the G-word `word` ("G21") outside its comments: not
/// part of a longer number (G210, G21.1) and not after a letter (XG21).
bool has_g_word(const char* line, const char* word) {
  const size_t n = std::strlen(word);
  return found_outside_comments(line, [&](const char* p) {
    if (std::strncmp(p, word, n) != 0) return false;
    bool starts = p == line || p[-1] == ' ' || p[-1] == '\t' || is_digit(p[-1]) || p[-1] == ')';
    bool ends = !is_digit(p[n]) && p[n] != '.';
    return starts && ends;
  });
}
}  // namespace

bool is_unsupported_mode_gcode(const char* line) {
  // Millimetres or relative moves change the meaning of every later
  // coordinate, wherever on a G-code line they are asked for: alone, among
  // other G-words ("G21 G90 G64 G40"), before a comment ("G21 ; mm") or in
  // an otherwise ignored "G0 G..." preamble ("G0 G28 G91 Z0").
  if (line[0] != 'G') return false;
  return has_g_word(line, "G21") || has_g_word(line, "G91");
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
