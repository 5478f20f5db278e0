// One run: build the validator table, create the translation log, run the
// script, write the envelope report, release the table. Every front end
// starts its runs here.
#pragma once

#include "runner/run_options.h"

/// The script path in a command-line text: what follows the program's name
/// (a quoted name ends at its closing quote) and the white space after it,
/// unchanged.
const char* script_path_of(const char* command_line_text);

/// Runs a script as `options` ask. 0 when it ran to its end, else 1.
int run_program(const run_options& options);

/// millrun's run: the script the command line names, both output files
/// written, dwells waiting, the real ports, `observers` subscribed.
int run_program(const char* command_line_text, const std::vector<run_observer*>& observers = {});
