// Writes a CAM-style job of N lines to standard output, as a CAM program
// posts it: millimetres, modal coordinates, contours with R and I/J arcs,
// helical entries, tiny facet segments, comments and feed words.
//   make_cam_job N > job.nc
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

long written = 0;
long wanted = 0;

bool line(const char* format, double a = 0, double b = 0, double c = 0, double d = 0) {
  if (written >= wanted) return false;
  std::printf(format, a, b, c, d);
  std::putchar('\n');
  ++written;
  return true;
}

// A rounded rectangle at depth z: four straight sides, four R arcs.
bool contour(double x, double y, double w, double h, double r, double z) {
  return line("G0 X%.3f Y%.3f", x + r, y) && line("G1 Z%.3f F300.", z) &&
         line("X%.3f F1000.", x + w - r) && line("G3 X%.3f Y%.3f R%.3f", x + w, y + r, r) &&
         line("G1 Y%.3f", y + h - r) && line("G3 X%.3f Y%.3f R%.3f", x + w - r, y + h, r) &&
         line("G1 X%.3f", x + r) && line("G3 X%.3f Y%.3f R%.3f", x, y + h - r, r) &&
         line("G1 Y%.3f", y + r) && line("G3 X%.3f Y%.3f R%.3f", x + r, y, r) && line("G0 Z5.");
}

// A bore: a helical entry of two turns, then a full circle at the bottom.
bool bore(double x, double y, double r, double z) {
  return line("G0 X%.3f Y%.3f", x + r, y) && line("G1 Z0. F300.") &&
         line("G2 X%.3f Y%.3f Z%.3f I%.3f J0. P2", x + r, y, z, -r) &&
         line("G2 X%.3f Y%.3f I%.3f J0.", x + r, y, -r) && line("G0 Z5.");
}

// A free-form wall as a web CAM writes it: many short segments.
bool facets(double x, double y, double z, int count) {
  if (!line("(facets)") || !line("G0 X%.3f Y%.3f", x, y) || !line("G1 Z%.3f F300.", z))
    return false;
  for (int i = 1; i <= count; ++i) {
    double t = i * 0.25;
    if (!line("X%.3f Y%.3f", x + t, y + 2.0 * std::sin(t / 4))) return false;
  }
  return line("G0 Z5.");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || (wanted = std::atol(argv[1])) <= 0) {
    std::fprintf(stderr, "usage: make_cam_job LINES > job.nc\n");
    return 2;
  }
  line("%%");
  line("(bench job, millimetres)");
  line("G90 G94 G17");
  line("G21");
  line("T1 M6");
  line("S12000 M3");
  line("G0 Z5.");
  for (int part = 0; written < wanted; ++part) {
    double x = (part % 4) * 40.0 - 80, y = ((part / 4) % 4) * 30.0 - 60;
    if (!line("(part %.0f)", part)) break;
    bool ok = true;
    for (int pass = 1; ok && pass <= 3; ++pass) ok = contour(x, y, 30, 20, 4, -1.0 * pass);
    if (!ok || !bore(x + 15, y + 10, 3, -3) || !facets(x, y + 25, -0.5, 40)) break;
  }
  return 0;
}
