// Test helpers that only Windows has: a program started with a command-line
// text exactly as given (Windows hands a program its command line unsplit),
// and the text files a program writes, read back after checking their line
// ends.
#pragma once

#include <string>

#include "support/process.h"

/// A program beside the running test binary (millrun.exe is built there).
std::string program_beside_tests(const std::string& file_name);

/// Starts `application` with the command-line text `command_line`, verbatim,
/// in `cwd`; waits at most `timeout_ms` before ending it. Standard output and
/// standard error are text: see text_contents.
process_result run_command_line(const std::string& application, const std::string& command_line,
                                const std::string& cwd, int timeout_ms = 20000);

/// Text written in text mode, as the program saw it: every line end must be
/// the platform's CR LF (a line feed without its carriage return fails the
/// current test, naming `what`); each CR LF becomes a line feed.
std::string text_contents(const std::string& bytes, const std::string& what);

/// True for the files millrun writes as text (the translation log and the
/// envelope report); everything else is compared byte for byte.
bool is_text_output(const std::string& file_name);
