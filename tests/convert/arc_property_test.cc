// Random arcs in all three planes, both directions, both forms (centre and
// radius), some helical, some with several turns: the chords stay within
// the tolerance of the arc both ways (measured by the test's own sampler,
// not the converter's arc code), and their number is within one of the
// least number of chords for the tolerance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "convert/converter.h"
#include "convert/path_sampler.h"

namespace {

constexpr double pi = 3.14159265358979323846;

std::string convert_to_text(const std::string& input, double tolerance) {
  prep_options options;
  options.tolerance = tolerance;
  std::FILE* sink = std::tmpfile();
  convert_state state;
  state.options = &options;
  state.sink = sink;
  state.input_name = "arc.nc";
  size_t from = 0;
  long number = 0;
  bool ok = true;
  while (ok && from < input.size()) {
    size_t end = input.find('\n', from);
    ok = convert_line(state, input.data() + from, end - from, ++number);
    from = end + 1;
  }
  ok = ok && finish_conversion(state);
  EXPECT_TRUE(ok) << input << state.failure;
  std::string text;
  std::rewind(sink);
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, sink)) text += buffer;
  std::fclose(sink);
  return text;
}

TEST(ArcProperty, ChordsStayWithinToleranceInTheFewestCommands) {
  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double tolerances[] = {0.0002, 0.001, 0.004};
  const char* planes[] = {"G17", "G18", "G19"};
  long chords = 0, least = 0;
  double worst_out = 0, worst_in = 0;
  for (int trial = 0; trial < 240; ++trial) {
    int plane = trial % 3;
    bool clockwise = (trial / 3) % 2 == 0;
    bool radius_form = (trial / 6) % 2 == 0;
    double tolerance = tolerances[(trial / 12) % 3];
    double r = 0.01 * std::pow(300.0, unit(random));  // 0.01 to 3 in
    double sweep =
        radius_form ? 0.05 + unit(random) * (2 * pi - 0.1) : 0.05 + unit(random) * 2 * pi;
    bool full = !radius_form && trial % 10 == 1;
    int turns = !radius_form && trial % 20 == 3 ? 2 : 1;
    if (full) sweep = 2 * pi;
    double rise = trial % 4 == 0 ? unit(random) - 0.5 : 0;
    double start = unit(random) * 2 * pi;
    double end = start + (clockwise ? -sweep : sweep);
    // In-plane axes a, b and the axis c across the plane, as X, Y, Z.
    int axes[3] = {0, 1, 2};
    if (plane == 1) axes[0] = 2, axes[1] = 0, axes[2] = 1;
    if (plane == 2) axes[0] = 1, axes[1] = 2, axes[2] = 0;
    double from[3], to[3], center[3] = {0.3, -0.2, 0.1};
    from[axes[0]] = center[axes[0]] + r * std::cos(start);
    from[axes[1]] = center[axes[1]] + r * std::sin(start);
    from[axes[2]] = center[axes[2]];
    to[axes[0]] = full ? from[axes[0]] : center[axes[0]] + r * std::cos(end);
    to[axes[1]] = full ? from[axes[1]] : center[axes[1]] + r * std::sin(end);
    to[axes[2]] = center[axes[2]] + rise;
    char text[512];
    int n = std::snprintf(text, sizeof text,
                          "G20 G90 %s\nG0 X%.8f Y%.8f Z%.8f\n%s X%.8f Y%.8f Z%.8f", planes[plane],
                          from[0], from[1], from[2], clockwise ? "G2" : "G3", to[0], to[1], to[2]);
    if (radius_form) {
      n += std::snprintf(text + n, sizeof text - n, " R%.8f\n", sweep > pi ? -r : r);
    } else {
      const char letters[3] = {'I', 'J', 'K'};
      n += std::snprintf(text + n, sizeof text - n, " %c%.8f %c%.8f P%d\n", letters[axes[0]],
                         center[axes[0]] - from[axes[0]], letters[axes[1]],
                         center[axes[1]] - from[axes[1]], turns);
    }
    std::string output = convert_to_text(text, tolerance);
    // The arc alone: from its start (the rapid's end) through the chords.
    std::vector<sampler::piece> written = sampler::output_path(output);
    ASSERT_FALSE(written.empty());
    written.erase(written.begin());
    std::vector<sampler::piece> exact;
    sampler::add_arc(exact, axes, sampler::make(from[0], from[1], from[2]),
                     sampler::make(to[0], to[1], to[2]), center[axes[0]], center[axes[1]],
                     clockwise, turns);
    double out = sampler::farthest(sampler::points_along(written, tolerance / 4), exact, 0.005);
    double in = sampler::farthest(sampler::points_along(exact, tolerance / 2), written, 0.005);
    EXPECT_LE(out, tolerance + 1e-6) << text;
    EXPECT_LE(in, tolerance + 0.0001 + 1e-6) << text;
    worst_out = std::max(worst_out, out / tolerance);
    worst_in = std::max(worst_in, in / tolerance);
    // The least count of chords with their ends on the arc.
    double total = sweep + 2 * pi * (turns - 1);
    long fewest = static_cast<long>(std::ceil(total / (2 * std::acos(1 - tolerance / r))));
    long count = static_cast<long>(written.size());
    EXPECT_LE(count, std::max(fewest + 1, static_cast<long>(fewest * 1.05))) << text;
    chords += count;
    least += fewest;
  }
  std::printf(
      "random arcs: %ld chords against a least count of %ld (+%.1f %%); largest deviation "
      "%.2f of the tolerance outward, %.2f inward\n",
      chords, least, 100.0 * (chords - least) / least, worst_out, worst_in);
}

}  // namespace
