#include "convert/machine_words.h"

#include <cmath>
#include <cstdio>

#include "convert/convert_messages.h"
#include "convert/job_output.h"

namespace {

std::string number_text(double value) {
  char text[48];
  if (value == std::floor(value) && std::fabs(value) < 1e12) std::snprintf(text, sizeof text, "%.0f", value);
  else std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// A T-word naming a tool other than the one that cut so far is a break.
void take_tool_word(convert_state& state, const gcode_block& block, long number, const std::string& text) {
  if (!block_has(block, 'T')) return;
  double t = block_value(block, 'T');
  if (state.has_tool && t != state.tool && state.cut && state.break_line == 0) {
    state.break_line = number;
    state.break_text = text;
    state.break_why = "a second tool (T";
    state.break_why += number_text(t);
    state.break_why += ')';
  }
  state.tool = t;
  state.has_tool = true;
}

// M0, M1, M60 (program stops) and M6 (a tool change) after the job began
// cutting are a break; M2 and M30 end the program.
void take_m_code(convert_state& state, int m, long number, const std::string& text) {
  const bool stop = m == 0 || m == 10 || m == 600;
  if ((stop || m == 60) && state.cut && state.break_line == 0) {
    state.break_line = number;
    state.break_text = text;
    if (stop) {
      state.break_why = "a program stop (M";
      state.break_why += number_text(m / 10.0);
      state.break_why += ')';
    } else {
      state.break_why = "a tool change (M6)";
    }
  }
  if (m == 20 || m == 300) state.end_line = number;
}

}  // namespace

bool convert_machine_words(convert_state& state, const gcode_block& block, long number, const std::string& text) {
  std::string ignored;
  take_tool_word(state, block, number, text);
  for (int i = 0; i < block.m_count; ++i) {
    int m = block.m[i];
    if (m == 980 || m == 990)
      return refuse_line(state, number, text,
                         "subroutine calls (M98/M99) are not supported: post the job with its moves written out");
    take_m_code(state, m, number, text);
    ignored += ignored.empty() ? "M" : " M";
    ignored += number_text(m / 10.0);
  }
  static const char kept[3] = {'T', 'S', 'F'};
  for (char letter : kept)
    if (block_has(block, letter)) {
      if (!ignored.empty()) ignored += ' ';
      ignored += letter;
      ignored += number_text(block_value(block, letter));
    }
  if (ignored.empty()) return true;
  if (!before_output(state)) return false;
  write_text_line(state.writer, ignored.c_str());
  return true;
}
