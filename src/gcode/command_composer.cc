#include "gcode/command_composer.h"

#include <cstdio>
#include <cstring>

#include "gcode/axis_model.h"
#include "gcode/line_filter.h"
#include "supervision/homing.h"

const char* const no_op_command = "NO_OP()";
const char* const translation_log_name = "KelCodeOutput.txt";

namespace {

struct composer_state {
  std::FILE* log = nullptr;
  char command[256] = {};
};
composer_state composer;

constexpr char axis_words[axis_count] = {'x', 'y', 'z'};
constexpr char positive_letters[axis_count] = {'r', 't', 'u'};
constexpr char negative_letters[axis_count] = {'l', 'b', 'd'};
constexpr const char* home_commands[axis_count] = {"x_home l", "y_home b", "z_home u"};
constexpr const char* move_words[axis_count] = {"x_move_steps", "y_move_steps", "z_move_steps"};

}  // namespace

void reset_command_composer() {
  close_translation_log();
  composer.command[0] = '\0';
}

translation_result classify_gcode_line(char* line, const char*& operands) {
  operands = nullptr;
  char* text = strip_line_number(line);
  strip_comment(text);
  if (is_unsupported_mode_gcode(text)) return translation_result::unsupported_mode;
  if (is_ignored_gcode(text, true)) return translation_result::no_op;
  operands = motion_operands(text);
  return operands ? translation_result::command : translation_result::unknown_gcode;
}

translation_result compose_machine_command(const char* operands, const char*& command) {
  axis_moves moves;
  command = no_op_command;
  if (!compute_axis_moves(operands, moves)) return translation_result::out_of_range;

  const axis_model& model = axis_model_state();
  char axes[axis_count + 1] = {};
  char letters[axis_count + 1] = {};
  int moving = 0;
  int only = -1;
  for (int a = 0; a < axis_count; ++a) {
    if (moves.steps[a] == 0) continue;
    axes[moving] = axis_words[a];
    letters[moving] = moves.target[a] > model.axes[a].position_in ? positive_letters[a]
                                                                   : negative_letters[a];
    ++moving;
    only = a;
  }
  if (moving == 0) {
    apply_moves(moves);
    return translation_result::no_op;
  }

  char* out = composer.command;
  const size_t size = sizeof composer.command;
  if (moving == 1) {
    bool home = only == axis_z ? moves.target[axis_z] == model.work_surface_depth
                               : moves.target[only] == 0.0;
    if (home)
      std::snprintf(out, size, "%s", home_commands[only]);
    else
      std::snprintf(out, size, "%s %c %d", move_words[only], letters[0],
                    static_cast<int>(moves.steps[only]));
  } else {
    int n = std::snprintf(out, size, "xyz_linear_move_steps %s %s ", axes, letters);
    bool first = true;
    for (int a = 0; a < axis_count && n > 0 && static_cast<size_t>(n) < size; ++a) {
      if (moves.steps[a] == 0) continue;
      n += std::snprintf(out + n, size - static_cast<size_t>(n), first ? "%d" : ",%d",
                         static_cast<int>(moves.steps[a]));
      first = false;
    }
  }
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

void open_translation_log() {
  set_homed(false);
  close_translation_log();
  composer.log = std::fopen(translation_log_name, "w");
}

bool translation_log_open() { return composer.log != nullptr; }

void log_command(const char* command) { log_commands(&command, 1); }

void log_commands(const char* const* commands, int count) {
  if (!composer.log) return;
  // The log is best effort: a failed write does not stop the run.
  for (int i = 0; i < count; ++i) {
    std::fputs(commands[i], composer.log);
    std::fputc('\n', composer.log);
  }
  std::fflush(composer.log);
}

void close_translation_log() {
  if (!composer.log) return;
  std::fclose(composer.log);
  composer.log = nullptr;
}
