// The entry point on Windows. millrun is a console program, so that its
// trace reaches the console it was started from (or a new one when it is
// started from the desktop) and a batch file sees its exit code. The
// command-line text goes to run_program as the system hands it over: the
// program's name, as typed or quoted, and the rest unsplit.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/terminal.h"
#include "runner/run_program.h"
#include "supervision/job_estimate.h"
#include "supervision/progress.h"

namespace {

const char usage[] =
    "Usage: millrun SCRIPT\n"
    "\n"
    "Runs a milling script: G-code (inches, absolute, linear moves and dwells)\n"
    "mixed with the keywords include, open comm, set_work_surface_depth_below_top_of_z\n"
    "and set_chg_dirs_sleep_ms. Each motion line becomes one controller command.\n"
    "Without an \"open comm\" line the script is a dry run: nothing is sent.\n"
    "\"open comm COM3\" drives the machine on serial port COM3.\n"
    "\n"
    "Writes KelCodeOutput.txt (the commands) and EnvelopeReport.txt (the motion\n"
    "envelope, feed rates and recoveries) in the working directory.\n"
    "Exit code 0 when the script ran to its end, 1 otherwise.\n"
    "\n"
    "Everything after the program's name is the script path, blanks included:\n"
    "do not put it in quotes.\n"
    "\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

}  // namespace

int main() {
  // Started without standard handles (detached, or by a service), the
  // runtime's first files would take their numbers.
  platform_fill_standard_streams();
  const char* text = GetCommandLineA();
  const char* rest = script_path_of(text);
  if (std::strcmp(rest, "--help") == 0) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (std::strcmp(rest, "--version") == 0) {
    std::printf("millrun %s\n", MILLRUN_VERSION);
    return 0;
  }
  platform_watch_stop_signals();
  return run_program(text, {&job_estimate_observer(), &progress_observer()});
}
