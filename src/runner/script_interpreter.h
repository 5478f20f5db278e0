// Reads a script file line by line and gives each line its meaning: a
// comment, a keyword (include, open comm, the two machine parameters) or a
// G-code line that is translated, validated and sent. Recovery calls back in
// here to re-run a failed line.
#pragma once

#include "platform/device.h"
#include "runner/run_options.h"

/// How deep includes may nest below the top-level script. A script that
/// includes itself, directly or through others, stops here.
constexpr int max_include_depth = 32;

/// Runs every line of the file at `path`. True when every line succeeded.
/// A file that starts with a null handle owns the port it opens and closes
/// it at its end; an included file borrows its includer's handle.
bool run_script_file(const char* path, port_handle initial);

/// Interprets one line; false stops the file. `line_text` is normalised in
/// place. `path` and `line_number` are used in messages only (a re-run after
/// recovery passes "RESUME_OPS" and -1).
bool process_script_line(const char* path, int line_number, char* line_text, port_handle& handle);

/// A recovery is about to close `closed`: every including file that holds it
/// lets go of it.
void forget_handle_in_including_files(port_handle closed);
/// The recovery re-opened the port: the including files that let go of the
/// closed handle take the new one, so none of them uses a closed handle.
void hand_back_to_including_files(port_handle reopened);

/// Whether the file being run has read its program end (M2/M30): a motion
/// line after it is no part of the program. Each file, an included one too,
/// has its own.
bool program_ended_in_file();
void note_program_end_in_file();

void reset_script_interpreter();
/// Takes the run's resume point: the lines before it are tracked quietly.
void configure_script_interpreter(const run_options& options);
/// True while a resumed job has not reached its line.
bool restart_line_pending();
