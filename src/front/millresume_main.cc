// millresume: goes on with a job on the machine from a line of its script.
// The run is millrun's, with the same trace, messages, output files, stop
// signals, progress line and exit codes; only the start is different.
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/terminal.h"
#include "restart/millresume_cli.h"
#include "runner/run_journal.h"
#include "runner/run_program.h"
#include "supervision/job_estimate.h"
#include "supervision/progress.h"

int main(int argc, char** argv) {
  // Before any file is opened: a closed standard stream must not hand its
  // number to the serial port or to KelCodeOutput.txt.
  platform_fill_standard_streams();
  millresume_command command = parse_millresume_arguments(argc, argv);
  if (command.help) {
    std::fputs(millresume_usage, stdout);
    return 0;
  }
  if (command.version) {
    std::printf("millresume %s\n", MILLRUN_VERSION);
    return 0;
  }
  if (!command.error.empty()) {
    std::fprintf(stderr, "millresume: %s\n\n%s", command.error.c_str(), millresume_usage);
    return millresume_usage_exit_code;
  }
  if (std::string why; !script_readable(command.run.script, why)) {
    std::fprintf(stderr, "millresume: cannot read %s: %s\n", command.run.script.c_str(),
                 why.c_str());
    return 1;
  }
  if (command.from_journal) {
    std::string message;
    const bool ok = continue_from_journal(command, message);
    std::fprintf(stderr, "millresume: %s\n", message.c_str());
    if (!ok) return 1;
  }
  platform_watch_stop_signals();
  job_estimate estimate;
  progress_line progress(estimate);
  run_journal journal(command.run.start_at);
  command.run.observers = {&estimate, &progress, &journal};
  return run_program(command.run);
}
