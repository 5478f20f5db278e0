#include "convert/convert_messages.h"

#include <algorithm>
#include <cstdio>

std::string quoted_line(const char* line, size_t length) {
  size_t shown = std::min<size_t>(length, 200);
  std::string text(line, shown);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  if (shown < length) text += "...";
  return text;
}

bool refuse_line(convert_state& state, long number, const std::string& text,
                 const std::string& why) {
  state.failure = "millprep: " + state.input_name + ":" + std::to_string(number) + ": " + why +
                  "\n    " + text + "\n";
  state.failure_code = 1;
  return false;
}

void warn_line(const convert_state& state, long number, const std::string& why) {
  if (!state.quiet)
    std::fprintf(stderr, "millprep: %s:%ld: warning: %s\n", state.input_name.c_str(), number,
                 why.c_str());
}

bool check_line_count(convert_state& state, long number, const std::string& text, double lines,
                      const char* hint) {
  if (lines <= most_lines_per_line) return true;
  char why[240];
  std::snprintf(why, sizeof why, "the line would become %.0f motion lines, more than %.0f: %s",
                lines, most_lines_per_line, hint);
  return refuse_line(state, number, text, why);
}

void warn_long_dwell(const convert_state& state, long number, double milliseconds) {
  if (milliseconds <= 60000) return;
  char why[200];
  std::snprintf(why, sizeof why, "the dwell waits %.1f s (%.1f min)%s", milliseconds / 1000,
                milliseconds / 60000,
                state.options->dwell_in_ms ? ""
                                           : "; P is read in seconds: a CAM program that writes "
                                             "milliseconds needs --dwell-units ms");
  warn_line(state, number, why);
}
