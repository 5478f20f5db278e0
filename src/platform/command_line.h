// The command line as the system hands it to a program: one text, the
// program's name first, as a desktop system gives it. One implementation
// file per OS.
#pragma once

#include <string>

/// The command-line text: the program's name (quoted when it holds a blank)
/// and the rest. On Windows the system's own text, the rest unsplit; on
/// POSIX joined from `argv` with single blanks, `fallback_name` standing in
/// for a missing program name.
std::string platform_command_line_text(int argc, char** argv, const char* fallback_name);

/// The text in which --help and --version are looked for. Where the system
/// splits the arguments, the one argument, or "" when there are none or
/// several; on Windows, where everything after the program's name is one
/// script path, `rest_of_text` (that rest of the command-line text).
const char* platform_sole_argument(int argc, char** argv, const char* rest_of_text);

/// What the help text says differently on this system: a line naming an
/// example port, and a paragraph on how a script path is given ("" where
/// there is nothing to say).
struct command_line_notes {
  const char* port_example;
  const char* script_path;
};
command_line_notes platform_command_line_notes();
