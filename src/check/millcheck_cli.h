// millcheck's command line: its options, its usage text, and the program
// after its options (read the profile, check the job, print the report).
#pragma once

#include <cstdio>
#include <string>

#include "runner/run_options.h"

struct millcheck_options {
  std::string script;
  std::string profile;  // empty: none
  /// The limits the options give, for the axes in `given`; they replace
  /// the profile's line for those axes.
  travel_limits limits;
  bool given[run_axis_count] = {false, false, false};
  bool json = false;
  bool help = false;
  bool version = false;
  std::string error;  // a usage error to show, else empty
};

/// Reads millcheck's arguments: "--x MIN:MAX", "--y", "--z", "--profile
/// FILE" (each also as "--x=MIN:MAX"), "--json", "--help", "--version"
/// anywhere; "--" ends the options; the rest, joined with one blank each, is
/// the script path, as millrun takes it.
millcheck_options parse_millcheck_arguments(int argc, const char* const* argv);

extern const char* const millcheck_usage;

/// The limits a check uses: the profile's, with each axis the options name
/// replaced by the options' range for it.
bool merged_limits(const millcheck_options& options, travel_limits& limits, std::string& error);

/// Exit codes: the job fits and every line is accepted; problems found; a
/// usage error, an unreadable script or profile.
constexpr int check_fits = 0;
constexpr int check_problems = 1;
constexpr int check_usage_error = 2;

/// The whole of millcheck after its options: the report goes to `out`,
/// usage problems to `err`. Returns the exit code.
int run_millcheck(const millcheck_options& options, std::FILE* out, std::FILE* err);
