// millsim: the machine controller simulator on a pseudo-terminal.
#include <cstdio>
#include <string>
#include <vector>

#include "pty_server.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  millsim_options options;
  std::string error;
  switch (parse_millsim_options(args, options, error)) {
    case options_outcome::help:
      std::fputs(millsim_usage, stdout);
      return 0;
    case options_outcome::version:
      std::printf("millsim %s\n", MILLRUN_VERSION);
      return 0;
    case options_outcome::usage_error:
      std::fprintf(stderr, "millsim: %s\nTry 'millsim --help' for more information.\n",
                   error.c_str());
      return 2;
    case options_outcome::run:
      break;
  }
  return run_millsim(options);
}
