// millplot: draws the toolpath of a milling script as an SVG picture. The
// translation's own trace is of no use here and is discarded; messages and
// the name of the picture written go to standard error.
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/terminal.h"
#include "preview/millplot_cli.h"

int main(int argc, char** argv) {
  platform_fill_standard_streams();
  millplot_options options = parse_millplot_arguments(argc, argv);
  if (options.help) {
    std::fputs(millplot_usage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("millplot %s\n", MILLRUN_VERSION);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "millplot: %s\n\n%s", options.error.c_str(), millplot_usage);
    return 2;
  }
  platform_watch_stop_signals();
  platform_discard_standard_output();
  bool written = false;
  std::string stopped_at;
  int code = run_millplot(options.script, options.output, written, &stopped_at);
  if (written && code == 0)
    std::fprintf(stderr, "Toolpath drawn in %s\n", options.output.c_str());
  else if (written)
    std::fprintf(stderr, "Toolpath drawn up to the line that failed%s%s%s in %s\n",
                 stopped_at.empty() ? "" : " (", stopped_at.c_str(), stopped_at.empty() ? "" : ")",
                 options.output.c_str());
  return code;
}
