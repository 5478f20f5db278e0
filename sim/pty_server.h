// The simulator's front: the command line, and the loop that serves the
// controller model on a pseudo-terminal until a stop signal.
#pragma once

#include <string>
#include <vector>

#include "controller_model.h"

struct millsim_options {
  controller_config controller;
  std::string link_path;        // empty: no link
  std::string transcript_path;  // empty: no transcript
};

enum class options_outcome { run, help, version, usage_error };

/// Reads the arguments after the program name. On a usage error `error`
/// holds a one-line message.
options_outcome parse_millsim_options(const std::vector<std::string>& args,
                                      millsim_options& options, std::string& error);

/// The --help text.
extern const char millsim_usage[];

/// Opens the terminal, prints its device path and a newline on standard
/// output, makes the link, and serves until SIGTERM or SIGINT; then writes
/// the transcript and removes the link. Returns the exit code: 0 after a
/// stop signal with everything written, 1 when something failed (reported
/// on standard error).
int run_millsim(const millsim_options& options);
