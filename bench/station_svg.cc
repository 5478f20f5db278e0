// Writes the station's toolpath picture of a script to standard output, for
// `make bench` (its size, time and memory on a long job):
//   station_svg SCRIPT
#include <cstdio>
#include <string>

#include "preview/station_toolpath.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: station_svg SCRIPT\n");
    return 2;
  }
  std::string svg, error;
  if (!station_toolpath_svg(argv[1], svg, error)) {
    std::fprintf(stderr, "station_svg: %s\n", error.c_str());
    return 1;
  }
  return std::fwrite(svg.data(), 1, svg.size(), stdout) == svg.size() ? 0 : 1;
}
