// Writes a realistic milling job of N lines to standard output: pockets in
// depth passes, contours, drilled holes, comments, and dwells of P0 only
// (a dry run really waits through a dwell).
//   make_job N > job.nc
#include <cstdio>
#include <cstdlib>

namespace {

long written = 0;
long wanted = 0;

bool line(const char* format, double a = 0, double b = 0, double c = 0) {
  if (written >= wanted) return false;
  std::printf(format, a, b, c);
  std::putchar('\n');
  ++written;
  return true;
}

bool pocket(double x0, double y0, double w, double h, double top, double bottom, double step) {
  if (!line("( pocket %.3f x %.3f )", w, h)) return false;
  for (double z = top - 0.05; z >= bottom - 1e-9; z -= 0.05) {
    if (!line("G00 X%.4f Y%.4f", x0, y0) || !line("G01 Z%.4f", z)) return false;
    bool right = true;
    for (double y = y0; y <= y0 + h + 1e-9; y += step) {
      if (!line("G01 X%.4f Y%.4f", right ? x0 + w : x0, y)) return false;
      if (!line("Y%.4f", y + step)) return false;
      right = !right;
    }
    if (!line("G00 Z%.4f", top)) return false;
  }
  return true;
}

bool contour(double x0, double y0, double w, double h, double top, double depth) {
  if (!line("; contour")) return false;
  return line("G00 X%.4f Y%.4f", x0, y0) && line("G01 Z%.4f", depth) &&
         line("G01 X%.4f Y%.4f Z%.4f", x0 + w, y0, depth) &&
         line("G01 X%.4f Y%.4f", x0 + w, y0 + h) && line("G01 X%.4f Y%.4f", x0, y0 + h) &&
         line("G01 X%.4f Y%.4f", x0, y0) && line("G00 Z%.4f", top);
}

bool holes(double x0, double y0, int count, double pitch, double top, double depth) {
  if (!line("// drilled holes")) return false;
  for (int i = 0; i < count; ++i) {
    if (!line("G00 X%.4f Y%.4f", x0 + i * pitch, y0) || !line("G01 Z%.4f", depth) ||
        !line("G04 P0") || !line("G00 Z%.4f", top))
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || (wanted = std::atol(argv[1])) <= 0) {
    std::fprintf(stderr, "usage: make_job LINES > job.nc\n");
    return 2;
  }
  const double top = 2.11;
  line("G20");
  line("G90");
  line("M03 S12000");
  for (int part = 0; written < wanted; ++part) {
    double x = (part % 5) * 0.7, y = ((part / 5) % 5) * 0.7;
    if (!pocket(x, y, 0.5, 0.4, top, top - 0.25, 0.02)) break;
    if (!contour(x - 0.05, y - 0.05, 0.6, 0.5, top, top - 0.3)) break;
    if (!holes(x, y + 0.55, 4, 0.15, top, top - 0.2)) break;
  }
  return 0;
}
