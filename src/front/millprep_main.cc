// millprep: converts G-code as CAM programs write it into the dialect
// millrun reads.
#include <cstdio>

#include "convert/converter.h"
#include "convert/prep_options.h"
#include "platform/file_kind.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  prep_options options = parse_prep_arguments(argc, argv);
  if (options.help) {
    std::fputs(millprep_usage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("millprep %s\n", MILLRUN_VERSION);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "millprep: %s\n\n%s", options.error.c_str(), millprep_usage);
    return 2;
  }
  // Ctrl-C, a termination request or a hang-up ends the conversion between
  // lines, and the temporary output goes with it.
  platform_watch_stop_signals();
  options.system.stop_requested = platform_stop_requested;
  options.system.path_kind = platform_path_kind;
  options.system.same_file = platform_same_file;
  return run_millprep(options);
}
