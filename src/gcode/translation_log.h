// The translation log, KelCodeOutput.txt: every machine command in the order
// it was produced (composed motion commands, the home lines of a homing, a
// recovery's repositioning moves), whether or not the machine then accepted
// it. Best effort: a log that cannot be created or written does not stop
// the run.
#pragma once

/// The name of the translation log file.
extern const char* const translation_log_name;

/// Creates (empties) the log in the working directory.
void open_translation_log();
/// Writes one line to the log, if open, and flushes it.
void log_command(const char* command);
/// Writes several lines to the log, if open, and flushes them together.
void log_commands(const char* const* commands, int count);
void close_translation_log();
bool translation_log_open();
