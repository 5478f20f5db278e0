// One run: build the validator table, create the translation log, run the
// script, write the envelope report, release the table.
#pragma once

/// The script path in a command-line text: what follows the program's name
/// (a quoted name ends at its closing quote) and the white space after it,
/// unchanged.
const char* script_path_of(const char* command_line_text);

/// Runs the script the command line names. 0 when it ran to its end, else 1.
int run_program(const char* command_line_text);
