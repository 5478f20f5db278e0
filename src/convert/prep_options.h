// The command line of millprep.
#pragma once

#include <string>

/// What the file checks and the stop need of the operating system, given
/// by millprep's entry point; null in tests that convert in-process.
struct prep_system {
  bool (*stop_requested)() = nullptr;
  /// 0 nothing there, 1 a regular file, 2 anything else (links followed).
  int (*path_kind)(const char* path) = nullptr;
  /// Whether two names are one existing file (links followed).
  bool (*same_file)(const char* a, const char* b) = nullptr;
};

struct prep_options {
  std::string input;
  std::string output;        // empty: standard output
  double tolerance = 0.001;  // inches
  int units = 0;             // when the job does not say: 0 refuse, 20 inches, 21 millimetres
  double shift[3] = {0, 0, 0};
  bool fit = false;
  bool dwell_in_ms = false;
  bool split_tools = false;
  bool merge = true;
  bool help = false;
  bool version = false;
  prep_system system;
  std::string given;  // the options as given, for the output's header
  std::string error;  // a usage error, when not empty
};

extern const char millprep_usage[];

/// Reads the arguments; a usage error is left in `error`.
prep_options parse_prep_arguments(int argc, const char* const* argv);

/// The part file name for --split-tools: ".t<k>" before the extension
/// ("job.nc", 2 -> "job.t2.nc"; "job", 2 -> "job.t2").
std::string part_file_name(const std::string& output, int part);
