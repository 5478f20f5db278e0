// A dry run of millrun in this process, as millrun runs it (the estimate and
// the progress line subscribed), with all it leaves: exit code, both output
// files, the trace and the messages. Dwells are told but not waited.
#pragma once

#include <string>

struct dry_run_outcome {
  int exit_code = -1;
  std::string log;             // KelCodeOutput.txt; empty when absent
  std::string report;          // EnvelopeReport.txt; empty when absent
  std::string trace;           // standard output after the validator listing
  std::string messages;        // standard error without the estimate line
  std::string estimate;        // the estimate line, when the run printed one
  bool listing_first = false;  // standard output began with the listing
};

class temp_dir;

/// Runs millrun's command line `arguments` (what follows the program's name)
/// with `dir` as the working directory, which it then restores.
dry_run_outcome run_dry(const temp_dir& dir, const std::string& arguments);
