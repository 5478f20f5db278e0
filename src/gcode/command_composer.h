// Turns one G-code line into one command of the controller's language,
// written to the translation log as it is composed.
#pragma once

#include "gcode/axis_model.h"
#include "gcode/line_filter.h"
#include "gcode/motion_line.h"
#include "gcode/translation_log.h"

enum class translation_result {
  command,             // a machine command was composed (and logged)
  no_op,               // the line causes no motion: "NO_OP()"
  unknown_gcode,       // not a code this dialect knows
  unsupported_mode,    // G21 or G91: millimetres or relative coordinates
  lost_operands,       // an axis word the narrow operand reading would drop or misread
  exponent_number,     // an axis number in exponent form ("X1e2")
  ignored_with_words,  // a line ignored whole (M, T, S, F) that holds axis or G words
  program_stop,        // M0, M1, M6, M60 on a motion line or after the run's first move
  subprogram,          // M98, M99
  after_program_end,   // a motion line after its file's M2/M30
  out_of_range,        // a target or step difference beyond the step arithmetic
};

/// What the run knows before a line that its reading depends on.
struct line_context {
  bool moved = false;          // the run has logged or sent a move (homing aside)
  bool program_ended = false;  // the line's file has read its M2/M30
};

/// The text of a line that causes no motion. Never logged.
extern const char* const no_op_command;

/// Reads `line` once into `reading` (its comments and N-word stripped in
/// place), performs a dwell, and classifies it: no_op for ignored codes,
/// command for a motion line (its targets in `reading`), or the failure.
/// Without `dwell` a dwell line waits nothing and tells no one.
translation_result classify_gcode_line(char* line, line_reading& reading, bool dwell = true,
                                       const line_context& context = {});

/// Whether millprep converts what made `line` (as classify_gcode_line left
/// it, without comments; `words` as it told them) fail with `result`: a "%" line, millimetres
/// or relative coordinates, arcs, drilling cycles, words in an order or on
/// a line this reading does not take. Output of a CAM program, then.
bool millprep_converts(char* line, translation_result result, const line_words& words);

/// Composes the command for motion operands from the tracked position, logs
/// it and advances the position. On out_of_range nothing is logged or moved.
/// `command` points at the composer's buffer, valid until the next call.
/// `moves` (optional) receives the moves from the position before the line.
translation_result compose_machine_command(const motion_targets& targets, const char*& command,
                                           axis_moves* moves = nullptr);
/// The same from operand text, read here.
translation_result compose_machine_command(const char* operands, const char*& command,
                                           axis_moves* moves = nullptr);

/// classify_gcode_line then compose_machine_command.
translation_result translate_gcode_line(char* line, const char*& command);

/// Whether the last motion word was G00/G0 (continuation lines keep it).
bool last_motion_rapid();

/// Forgets the composer's state (tests; the run does this at its start).
void reset_command_composer();
