// millcheck: checks a milling job before cutting, without a machine. The
// report goes to standard output, usage errors to standard error.
#include <cstdio>

#include "check/millcheck_cli.h"
#include "platform/platform.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  platform_fill_standard_streams();
  millcheck_options options = parse_millcheck_arguments(argc, argv);
  if (options.help) {
    std::fputs(millcheck_usage, stdout);
    return check_fits;
  }
  if (options.version) {
    std::printf("millcheck %s\n", MILLRUN_VERSION);
    return check_fits;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "millcheck: %s\n\n%s", options.error.c_str(), millcheck_usage);
    return check_usage_error;
  }
  platform_watch_stop_signals();
  return run_millcheck(options, stdout, stderr);
}
