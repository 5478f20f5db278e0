#include "gcode/command_composer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "gcode/axis_model.h"
#include "gcode/axis_words.h"
#include "gcode/line_filter.h"
#include "gcode/motion_line.h"

const char* const no_op_command = "NO_OP()";

namespace {

struct composer_state {
  char command[256] = {};
  bool rapid = false;  // the last motion word was G00/G0; continuations keep it
};
composer_state composer;


// The longest command, three axes of eleven characters each, is far below
// the buffer's 256 bytes.
char* append_text(char* p, const char* text) {
  while (*text) *p++ = *text++;
  return p;
}

char* append_integer(char* p, int32_t value) {
  char digits[12];
  int n = 0;
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) *p++ = '-';
  while (n > 0) *p++ = digits[--n];
  return p;
}

/// Lines the filter would ignore whole although they ask for a move: a
/// "G0 G..." preamble with coordinates ("G0 G90 X2 Y2"), and "X0Y0" where
/// the tool does not already stand at X 0, Y 0. Ignoring them would leave
/// the tool where it is and cut the next line from the wrong place.
bool would_drop_a_move(const char* text) {
  if (std::strncmp(text, "G0 G", 4) == 0) return holds_axis_word(text);
  if (std::strcmp(text, "X0Y0") == 0) {
    const axis_model& model = axis_model_state();
    return model.axes[axis_x].position_steps != 0 || model.axes[axis_y].position_steps != 0;
  }
  return false;
}

}  // namespace

void reset_command_composer() { composer = composer_state{}; }

bool last_motion_rapid() { return composer.rapid; }

translation_result classify_gcode_line(char* line, const char*& operands, bool dwell) {
  operands = nullptr;
  char* text = strip_line_number(line);
  strip_comment(text);
  if (is_unsupported_mode_gcode(text)) return translation_result::unsupported_mode;
  if (would_drop_a_move(text)) return translation_result::lost_operands;
  if (is_ignored_gcode(text, dwell)) return translation_result::no_op;
  const char* found = motion_operands(text);
  if (!found) return translation_result::unknown_gcode;
  motion_targets targets;
  if (read_motion_operands(found, targets) != operand_reading::complete)
    return translation_result::lost_operands;
  if (found != text) composer.rapid = text[1] == '0' && text[2] != '1';
  operands = found;
  return translation_result::command;
}

translation_result compose_machine_command(const char* operands, const char*& command,
                                           axis_moves* moves_out) {
  axis_moves moves;
  command = no_op_command;
  if (!compute_axis_moves(operands, moves)) return translation_result::out_of_range;
  if (moves_out) *moves_out = moves;

  const axis_model& model = axis_model_state();
  char axes[axis_count + 1] = {};
  char letters[axis_count + 1] = {};
  int moving = 0;
  int only = -1;
  for (int a = 0; a < axis_count; ++a) {
    if (moves.steps[a] == 0) continue;
    axes[moving] = axis_table[a].letter;
    letters[moving] = moves.target[a] > model.axes[a].position_in ? axis_table[a].positive
                                                                   : axis_table[a].negative;
    ++moving;
    only = a;
  }
  if (moving == 0) {
    apply_moves(moves);
    return translation_result::no_op;
  }

  // Composed by hand: this runs for every motion line of a job.
  char* out = composer.command;
  char* p = out;
  if (moving == 1) {
    bool home = only == axis_z ? moves.target[axis_z] == model.work_surface_depth
                               : moves.target[only] == 0.0;
    if (home) {
      p = append_text(p, axis_table[only].home_command);
    } else {
      p = append_text(p, axis_table[only].move_command);
      *p++ = ' ';
      *p++ = letters[0];
      *p++ = ' ';
      p = append_integer(p, moves.steps[only]);
    }
  } else {
    p = append_text(p, "xyz_linear_move_steps ");
    p = append_text(p, axes);
    *p++ = ' ';
    p = append_text(p, letters);
    *p++ = ' ';
    bool first = true;
    for (int a = 0; a < axis_count; ++a) {
      if (moves.steps[a] == 0) continue;
      if (!first) *p++ = ',';
      p = append_integer(p, moves.steps[a]);
      first = false;
    }
  }
  *p = '\0';
  log_command(out);
  apply_moves(moves);
  command = out;
  return translation_result::command;
}

translation_result translate_gcode_line(char* line, const char*& command) {
  const char* operands = nullptr;
  command = nullptr;
  translation_result result = classify_gcode_line(line, operands);
  if (result == translation_result::no_op) command = no_op_command;
  if (result != translation_result::command) return result;
  return compose_machine_command(operands, command);
}
