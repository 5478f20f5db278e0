#include "support/dry_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "link/validator_table.h"
#include "runner/run_program.h"
#include "runner/run_state.h"
#include "supervision/job_estimate.h"
#include "supervision/progress.h"
#include "support/process.h"

namespace {

/// What loading the built-in validator table prints, as every run does first.
std::string validator_listing() {
  char text[validator_text_size];
  std::memcpy(text, builtin_validator_text, validator_text_size);
  testing::internal::CaptureStdout();
  reload_validator_table(text);
  std::string listing = testing::internal::GetCapturedStdout();
  free_validator_table();
  return listing;
}

}  // namespace

dry_run_outcome run_dry(const temp_dir& dir, const std::string& arguments) {
  static const std::string listing = validator_listing();
  dry_run_outcome o;
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr || chdir(dir.path().c_str()) != 0) {
    ADD_FAILURE() << "cannot enter " << dir.path();
    return o;
  }
  const std::string command_line = "millrun " + arguments;
  run_options options;
  options.script = script_path_of(command_line.c_str());
  options.dwells_wait = false;
  job_estimate estimate;
  progress_line progress(estimate);
  options.observers = {&estimate, &progress};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  o.exit_code = run_program(options);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  reset_run_state();
  o.listing_first = out.compare(0, listing.size(), listing) == 0;
  o.trace = o.listing_first ? out.substr(listing.size()) : out;
  o.messages = without_estimate(err);
  o.estimate = err.substr(o.messages.size());
  o.log = read_file("KelCodeOutput.txt");
  o.report = read_file("EnvelopeReport.txt");
  if (chdir(cwd) != 0) ADD_FAILURE() << "cannot return to " << cwd;
  return o;
}
