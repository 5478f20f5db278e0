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
/// "G0 G..." preamble or a "G04 P" dwell with coordinates ("G0 G90 X2 Y2"),
/// and "X0Y0" where the tool does not already stand at X 0, Y 0. Ignoring
/// them would leave the tool where it is and cut the next line from the
/// wrong place.
bool would_drop_a_move(const line_reading& line) {
  const char* text = line.text;
  if (line.kind == line_kind::dwell) return line.words.axis_word;
  if (line.kind != line_kind::ignored) return false;
  if (text[0] == 'G') return line.words.axis_word;  // "G0 G..."
  if (text[0] == 'X') {                             // "X0Y0"
    const axis_model& model = axis_model_state();
    return model.axes[axis_x].position_steps != 0 || model.axes[axis_y].position_steps != 0;
  }
  return false;
}

/// Lines that begin with these letters are ignored whole.
bool ignored_whole(char first) {
  return first == 'M' || first == 'T' || first == 'S' || first == 'F';
}

/// The refusals that the words of a line bring about before it is read
/// for a move, or command when there is none.
translation_result refused_words(const line_reading& line, const line_context& context) {
  using tr = translation_result;
  const line_words& words = line.words;
  if (words.open_comment) return tr::unknown_gcode;
  if (words.mode_change) return tr::unsupported_mode;
  if (words.subprogram) return tr::subprogram;
  if (ignored_whole(line.text[0]) && (words.axis_word || words.g_word))
    return tr::ignored_with_words;
  // A stop or tool change is not carried out: before the job's first move
  // nothing is lost by that (a job names its tool and may pause before it
  // starts); after it, or with a move of its own, the job would go on.
  if (words.program_stop && (context.moved || words.axis_word)) return tr::program_stop;
  if (would_drop_a_move(line)) return tr::lost_operands;
  return tr::command;
}

}  // namespace

void reset_command_composer() { composer = composer_state{}; }

bool last_motion_rapid() { return composer.rapid; }

translation_result classify_gcode_line(char* line, line_reading& reading, bool dwell,
                                       const line_context& context) {
  read_gcode_line(line, reading);
  translation_result refused = refused_words(reading, context);
  if (refused != translation_result::command) return refused;
  switch (reading.kind) {
    case line_kind::dwell:
      if (dwell) perform_dwell(reading.dwell_ms);
      return translation_result::no_op;
    case line_kind::ignored:
      return translation_result::no_op;
    case line_kind::other:
      return translation_result::unknown_gcode;
    case line_kind::motion:
      break;
  }
  if (context.program_ended) return translation_result::after_program_end;
  switch (reading.reading) {
    case operand_reading::complete:
      break;
    case operand_reading::exponent:
      return translation_result::exponent_number;
    default:
      return translation_result::lost_operands;
  }
  if (reading.motion_word) composer.rapid = reading.rapid;
  return translation_result::command;
}

bool millprep_converts(char* line, translation_result result, const line_words& words) {
  switch (result) {
    case translation_result::unsupported_mode:
    case translation_result::ignored_with_words:
      return true;
    case translation_result::unknown_gcode:
      // A "%" program delimiter, or G words this dialect does not take:
      // arcs, drilling cycles, planes, several codes on one line.
      return !words.open_comment && (line[0] == '%' || words.g_word);
    case translation_result::lost_operands: {
      // Words in an order the narrow reading does not take; a number it
      // misreads ("X1,5") is no CAM program's output.
      const char* text = strip_line_number(line);
      const char* found = motion_operands(text);
      motion_targets targets;
      return !found || read_motion_operands(found, targets) == operand_reading::lost;
    }
    default:
      return false;
  }
}

translation_result compose_machine_command(const char* operands, const char*& command,
                                           axis_moves* moves_out) {
  motion_targets targets;
  read_motion_operands(operands, targets);
  return compose_machine_command(targets, command, moves_out);
}

translation_result compose_machine_command(const motion_targets& targets, const char*& command,
                                           axis_moves* moves_out) {
  axis_moves moves;
  command = no_op_command;
  if (!compute_axis_moves(targets, moves)) return translation_result::out_of_range;
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
  line_reading reading;
  command = nullptr;
  translation_result result = classify_gcode_line(line, reading);
  if (result == translation_result::no_op) command = no_op_command;
  if (result != translation_result::command) return result;
  return compose_machine_command(reading.targets, command);
}
