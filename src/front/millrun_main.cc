// millrun: the command-line text goes to run_program, which runs the script
// it names. A console program on every system, so that its trace reaches the
// console it was started from and a batch file sees its exit code.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "runner/run_journal.h"
#include "runner/run_program.h"
#include "supervision/job_estimate.h"
#include "supervision/progress.h"

namespace {

void print_usage() {
  const command_line_notes notes = platform_command_line_notes();
  std::printf(
      "Usage: millrun SCRIPT\n"
      "\n"
      "Runs a milling script: G-code (inches, absolute, linear moves and dwells)\n"
      "mixed with the keywords include, open comm, set_work_surface_depth_below_top_of_z\n"
      "and set_chg_dirs_sleep_ms. Each motion line becomes one controller command.\n"
      "Without an \"open comm\" line the script is a dry run: nothing is sent.\n"
      "%s"
      "\n"
      "Writes KelCodeOutput.txt (the commands) and EnvelopeReport.txt (the motion\n"
      "envelope, feed rates and recoveries) in the working directory; a run on the\n"
      "machine also keeps RunJournal.txt, from which \"millresume SCRIPT --continue\"\n"
      "goes on after a power failure.\n"
      "Exit code 0 when the script ran to its end, 1 otherwise.\n"
      "%s"
      "\n"
      "  --help      show this text\n"
      "  --version   show the version\n",
      notes.port_example, notes.script_path);
}

}  // namespace

int main(int argc, char** argv) {
  // Started with a standard stream closed (detached, or by a service), the
  // next file opened would take its number: the trace would land in
  // KelCodeOutput.txt, or the messages on the serial port as commands.
  platform_fill_standard_streams();
  const std::string text = platform_command_line_text(argc, argv, "millrun");
  const char* word = platform_sole_argument(argc, argv, script_path_of(text.c_str()));
  if (std::strcmp(word, "--help") == 0) {
    print_usage();
    return 0;
  }
  if (std::strcmp(word, "--version") == 0) {
    std::printf("millrun %s\n", MILLRUN_VERSION);
    return 0;
  }
  platform_watch_stop_signals();
  job_estimate estimate;
  progress_line progress(estimate);
  run_journal journal;
  return run_program(text.c_str(), {&estimate, &progress, &journal});
}
