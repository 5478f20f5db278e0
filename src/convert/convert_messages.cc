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

bool refuse_line(convert_state& state, long number, const std::string& text, const std::string& why) {
  state.failure = "millprep: " + state.input_name + ":" + std::to_string(number) + ": " + why + "\n    " +
                  text + "\n";
  state.failure_code = 1;
  return false;
}

void warn_line(const convert_state& state, long number, const std::string& why) {
  if (!state.quiet)
    std::fprintf(stderr, "millprep: %s:%ld: warning: %s\n", state.input_name.c_str(), number, why.c_str());
}
