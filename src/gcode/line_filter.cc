#include "gcode/line_filter.h"

#include <cmath>
#include <cstring>

#include "common/decimal.h"
#include "platform/platform.h"
#include "runner/run_events.h"

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
/// Whether `line` holds the word `word` on its own (not G210, not XG21).
bool has_word(const char* line, const char* word) {
  const size_t n = std::strlen(word);
  for (const char* p = std::strstr(line, word); p; p = std::strstr(p + 1, word)) {
    bool starts = p == line || p[-1] == ' ' || p[-1] == '\t';
    bool ends = p[n] == '\0' || p[n] == ' ' || p[n] == '\t';
    if (starts && ends) return true;
  }
  return false;
}
}  // namespace

bool is_unsupported_mode_gcode(const char* line) {
  if (std::strcmp(line, "G21") == 0 || std::strcmp(line, "G91") == 0) return true;
  // A "G0 G..." preamble is otherwise ignored whole; one that switches to
  // millimetres or relative moves ("G0 G28 G91 Z0") must not slip through.
  return starts_with(line, "G0 G") && (has_word(line, "G21") || has_word(line, "G91"));
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
      if (auto hook = run_event_hooks().dwell) hook(ms);
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
