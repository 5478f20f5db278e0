// Turns one G-code line into one command of the controller's language and
// keeps the translation log, KelCodeOutput.txt: every composed command in
// the order it was produced, whether or not the machine then accepted it.
#pragma once

enum class translation_result {
  command,           // a machine command was composed (and logged)
  no_op,             // the line causes no motion: "NO_OP()"
  unknown_gcode,     // not a code this dialect knows
  unsupported_mode,  // G21 or G91: millimetres or relative coordinates
  lost_operands,     // an axis word the narrow operand reading would drop or misread
  out_of_range,      // a target or step difference beyond the step arithmetic
};

/// The text of a line that causes no motion. Never logged.
extern const char* const no_op_command;

/// Strips the N-word and the comment of `line` in place, performs a dwell,
/// and finds the motion operands. Returns no_op for ignored codes, command
/// with `operands` set for a motion line, or the failure.
translation_result classify_gcode_line(char* line, const char*& operands);

/// Composes the command for motion operands from the tracked position, logs
/// it and advances the position. On out_of_range nothing is logged or moved.
/// `command` points at the composer's buffer, valid until the next call.
translation_result compose_machine_command(const char* operands, const char*& command);

/// classify_gcode_line then compose_machine_command.
translation_result translate_gcode_line(char* line, const char*& command);

/// Clears the homed flag and creates (empties) KelCodeOutput.txt. A log that
/// cannot be created is not an error: the run goes on without one.
void open_translation_log();
/// Writes one line to the log, if open, and flushes it.
void log_command(const char* command);
/// Writes several lines to the log, if open, and flushes them together.
void log_commands(const char* const* commands, int count);
void close_translation_log();
bool translation_log_open();

/// Forgets the composer's state (tests; the run does this at its start).
void reset_command_composer();

/// The name of the translation log file.
extern const char* const translation_log_name;
