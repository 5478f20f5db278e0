#include "convert/machine_words.h"

#include <cmath>
#include <cstdio>

#include "convert/convert_messages.h"
#include "convert/job_output.h"

namespace {

std::string number_text(double value) {
  char text[48];
  if (value == std::floor(value) && std::fabs(value) < 1e12)
    std::snprintf(text, sizeof text, "%.0f", value);
  else
    std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// A T-word naming a tool other than the one that cut so far is a break.
void take_tool_word(convert_state& state, const gcode_block& block, long number,
                    const std::string& text) {
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

// M0, M1, M60 (program stops) and M6 (a tool change) after the part began
// cutting are a break: millrun runs each part from home. Before the first
// cut the operator does what they ask before the part starts.
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
}

bool is_stop_or_change(int m) { return m == 0 || m == 10 || m == 60 || m == 600; }

}  // namespace

bool convert_machine_words(convert_state& state, const gcode_block& block, long number,
                           const std::string& text) {
  std::string ignored;
  bool stop_or_change = false, end = false;
  take_tool_word(state, block, number, text);
  for (int i = 0; i < block.m_count; ++i) {
    int m = block.m[i];
    if (m == 980 || m == 990)
      return refuse_line(
          state, number, text,
          "subroutine calls (M98/M99) are not supported: post the job with its moves written out");
    take_m_code(state, m, number, text);
    stop_or_change = stop_or_change || is_stop_or_change(m);
    end = end || m == 20 || m == 300;
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
  // The program's end is written after everything else of the job.
  if (end) {
    state.end_line = number;
    state.end_words = ignored;
    return true;
  }
  // While a break waits for the next move, the words go with it to the
  // head of the next part, the stop or tool change itself as a comment:
  // millrun takes one only before a part's first move.
  if (state.break_line != 0) {
    state.break_words.push_back(stop_or_change || state.break_line == number ? "; " + ignored
                                                                             : ignored);
    return true;
  }
  if (!before_output(state)) return false;
  if (stop_or_change && part_has_moved(state)) ignored = "; " + ignored;
  write_text_line(state.writer, ignored.c_str());
  return true;
}
