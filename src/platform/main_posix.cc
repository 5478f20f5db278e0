// The entry point: the program name and its arguments become one
// command-line text, as a desktop system hands it over, and run_program
// takes it from there.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
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
    "\n"
    "Writes KelCodeOutput.txt (the commands) and EnvelopeReport.txt (the motion\n"
    "envelope, feed rates and recoveries) in the working directory.\n"
    "Exit code 0 when the script ran to its end, 1 otherwise.\n"
    "\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

/// Opens /dev/null on each of standard input, output and error that the
/// parent left closed. Otherwise the next file opened would take its number:
/// the trace would land in KelCodeOutput.txt, or the messages on the serial
/// port as commands for the machine.
void fill_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int null_fd = ::open("/dev/null", O_RDWR);
    // The lowest free number is `fd` itself; anything else is not ours.
    if (null_fd >= 0 && null_fd != fd) ::close(null_fd);
  }
}

}  // namespace

int main(int argc, char** argv) {
  fill_standard_descriptors();
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("millrun %s\n", MILLRUN_VERSION);
    return 0;
  }
  platform_watch_stop_signals();
  // A program name with blanks is quoted so that it ends where it should.
  std::string text;
  const char* name = argc > 0 ? argv[0] : "millrun";
  if (std::strpbrk(name, " \t")) {
    text += '"';
    text += name;
    text += '"';
  } else {
    text += name;
  }
  for (int i = 1; i < argc; ++i) {
    text += ' ';
    text += argv[i];
  }
  return run_program(text.c_str(), {&job_estimate_observer(), &progress_observer()});
}
