#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "preview/polyline_thinning.h"
#include "preview/station_toolpath.h"
#include "support/process.h"

namespace {

/// The scripts are read from a fresh working folder, as the station reads
/// them.
class StationToolpath : public testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    if (chdir(old_cwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << old_cwd_;
  }
  std::string draw(const std::string& script) {
    std::string svg, error;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool ok = station_toolpath_svg(script, svg, error);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(ok) << error;
    return svg;
  }
  temp_dir dir_;
  std::string old_cwd_;
};

std::string attribute(const std::string& text, const std::string& name, size_t from = 0) {
  const std::string key = " " + name + "=\"";
  size_t at = text.find(key, from);
  if (at == std::string::npos) return "";
  at += key.size();
  return text.substr(at, text.find('"', at) - at);
}

std::vector<double> numbers(const std::string& text) {
  std::vector<double> values;
  std::string spaced = text;
  std::replace(spaced.begin(), spaced.end(), ',', ' ');
  std::istringstream in(spaced);
  for (double v; in >> v;) values.push_back(v);
  return values;
}

struct piece {
  unsigned long command;
  std::vector<double> xy;  // x0 y0 x1 y1 ...
};

/// A view of the picture: its map (steps to picture) and its pieces.
struct view {
  std::vector<double> map;  // OX OY KX KY
  std::vector<piece> pieces;
  double x(double steps) const { return map[0] + map[2] * steps; }
  double y(double steps) const { return map[1] + map[3] * steps; }
};

view read_view(const std::string& svg, const std::string& name) {
  view v;
  const size_t at = svg.find("<g class=\"view\" data-view=\"" + name + "\"");
  if (at == std::string::npos) return v;
  v.map = numbers(attribute(svg, "data-map", at));
  const size_t end = svg.find("<g class=\"view\"", at + 1);
  for (size_t p = svg.find("<polyline", at); p < end; p = svg.find("<polyline", p + 1)) {
    EXPECT_EQ(attribute(svg, "class", p), "path");
    v.pieces.push_back({std::strtoul(attribute(svg, "data-command", p).c_str(), nullptr, 10),
                        numbers(attribute(svg, "points", p))});
  }
  return v;
}

/// The picture's grid cell: a quarter pixel of a 1,600-pixel-wide picture.
double cell_of(const std::string& svg) { return numbers(attribute(svg, "viewBox"))[2] / 6400.0; }

TEST_F(StationToolpath, ViewsMapStepsOntoTheDrawnPiecesCountedAsTheMachineAnswers) {
  // Homing comes first, as on the machine: Z, X and Y home, three commands.
  // X and Y move 1024 steps per 1.688 in (X 1.0 is step 607), Z 4000 per
  // inch (Z 1.9 is step 7600).
  dir_.write("job.nc",
             "G20\nG90\nG00 X1.0 Y1.0\nG01 Z1.9\nG01 X2.0\nG01 Y2.0\nG00 Z2.11\nG00 X0 Y0\n");
  const std::string svg = draw("job.nc");
  const double tolerance = cell_of(svg) / 2 + 0.01;
  EXPECT_EQ(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox="), 0u);
  const std::string root = svg.substr(0, svg.find('>'));
  EXPECT_EQ(root.find(" width="), std::string::npos);  // the page scales it
  EXPECT_EQ(root.find(" height="), std::string::npos);
  EXPECT_EQ(svg.find("id=\"tool\""), std::string::npos);
  EXPECT_LE(svg.size(), station_svg_limit);

  struct step_point {
    double h, v;
  };
  struct expected_piece {
    unsigned long command;
    step_point from, to;
  };
  const double z_home = 8440, z_cut = 7600, one = 607, two = 1213;
  const std::vector<expected_piece> top = {
      {3, {0, 0}, {one, one}}, {5, {one, one}, {two, one}}, {6, {two, one}, {two, two}},
      {8, {two, two}, {0, 0}}};
  const std::vector<expected_piece> side = {
      {3, {0, z_home}, {one, z_home}}, {4, {one, z_home}, {one, z_cut}},
      {5, {one, z_cut}, {two, z_cut}}, {7, {two, z_cut}, {two, z_home}},
      {8, {two, z_home}, {0, z_home}}};
  for (const auto& [name, want] :
       {std::pair{"top", top}, std::pair{"side", side}}) {
    SCOPED_TRACE(name);
    const view v = read_view(svg, name);
    ASSERT_EQ(v.map.size(), 4u);
    ASSERT_EQ(v.pieces.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      const piece& p = v.pieces[i];
      EXPECT_EQ(p.command, want[i].command) << i;
      ASSERT_EQ(p.xy.size(), 4u) << i;
      EXPECT_NEAR(p.xy[0], v.x(want[i].from.h), tolerance) << i;
      EXPECT_NEAR(p.xy[1], v.y(want[i].from.v), tolerance) << i;
      EXPECT_NEAR(p.xy[2], v.x(want[i].to.h), tolerance) << i;
      EXPECT_NEAR(p.xy[3], v.y(want[i].to.v), tolerance) << i;
    }
  }
}

TEST_F(StationToolpath, LongZigZagStaysUnderItsBoundAndKeepsItsExtremes) {
  // 200,000 feed lines sweeping X from 0 to 2 in and back while Y climbs to
  // 3 in and Z steps down: far more points than a screen can show.
  constexpr int lines = 200000;
  std::string job = "G20\nG90\nG00 X0 Y0\nG01 Z2.0\n";
  char line[96];
  for (int i = 1; i <= lines; ++i) {
    std::snprintf(line, sizeof line, "G01 X%.4f Y%.5f Z%.4f\n", i % 2 ? 2.0 : 0.0,
                  3.0 * i / lines, 2.0 - 0.5 * i / lines);
    job += line;
  }
  dir_.write("zigzag.nc", job);
  const std::string svg = draw("zigzag.nc");
  EXPECT_LE(svg.size(), station_svg_limit);
  const double tolerance = cell_of(svg) / 2 + 0.01;
  // The extremes in steps: X 2 in, Y 3 in, Z from home (2.11 in) down to
  // 1.5 in.
  const double x_far = 1213, y_far = 1820, z_high = 8440, z_low = 6000;
  for (const auto& [name, h_far, v_low, v_high] :
       {std::tuple{"top", x_far, 0.0, y_far}, std::tuple{"side", x_far, z_low, z_high}}) {
    SCOPED_TRACE(name);
    const view v = read_view(svg, name);
    ASSERT_EQ(v.map.size(), 4u);
    ASSERT_FALSE(v.pieces.empty());
    double min_x = 1e9, max_x = -1e9, min_y = 1e9, max_y = -1e9;
    unsigned long last = 0;
    for (const piece& p : v.pieces) {
      EXPECT_GE(p.command, last);
      last = p.command;
      for (size_t i = 0; i + 1 < p.xy.size(); i += 2) {
        min_x = std::min(min_x, p.xy[i]);
        max_x = std::max(max_x, p.xy[i]);
        min_y = std::min(min_y, p.xy[i + 1]);
        max_y = std::max(max_y, p.xy[i + 1]);
      }
    }
    EXPECT_NEAR(min_x, v.x(0), tolerance);
    EXPECT_NEAR(max_x, v.x(h_far), tolerance);
    // Up in the job is up in the picture: the picture's y grows downwards.
    EXPECT_NEAR(max_y, v.y(v_low), tolerance);
    EXPECT_NEAR(min_y, v.y(v_high), tolerance);
    // The last piece starts near the job's end: every command is counted.
    EXPECT_GT(last, static_cast<unsigned long>(lines) * 99 / 100);
  }
}

TEST(StationPathDrawing, PointsNoScreenCanThinStillStayUnderTheBound) {
  // Scattered points: nothing lies on a line, so only the fallbacks (coarser
  // cells, then fewer points) keep the picture bounded.
  station_path path;
  path.frame.homed = true;
  std::mt19937 random(16);
  std::uniform_int_distribution<int32_t> across(0, 3000), depth(6000, 8440);
  for (uint32_t i = 0; i < 400000; ++i)
    path.points.push_back({{across(random), across(random), depth(random)}, i + 3});
  const std::string svg = draw_station_path(path);
  EXPECT_LE(svg.size(), station_svg_limit);
  for (const char* name : {"top", "side"}) {
    // A piece that retraces a line drawn already is split in several
    // polylines of one count: the pieces are told by their counts.
    std::vector<unsigned long> counts;
    for (const piece& p : read_view(svg, name).pieces) counts.push_back(p.command);
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end())) << name;
    counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
    EXPECT_GT(counts.size(), station_svg_pieces / 2) << name;
    EXPECT_LE(counts.size(), station_svg_pieces) << name;
  }
}

}  // namespace

namespace {

TEST(PolylineThinner, KeepsTheEndsExtremesAndCornersOfItsRuns) {
  struct row {
    const char* what;
    std::vector<grid_point> in, out;
  };
  const row rows[] = {
      {"a straight line", {{0, 0}, {1, 0}, {2, 0}, {3, 0}}, {{0, 0}, {3, 0}}},
      {"back along it", {{0, 0}, {3, 0}, {1, 0}, {2, 0}}, {{0, 0}, {3, 0}, {2, 0}}},
      {"behind its start", {{1, 0}, {3, 0}, {0, 0}, {2, 0}}, {{1, 0}, {0, 0}, {3, 0}, {2, 0}}},
      {"repeats and corners",
       {{0, 0}, {0, 0}, {1, 1}, {2, 2}, {2, 2}, {2, 4}, {0, 4}},
       {{0, 0}, {2, 2}, {2, 4}, {0, 4}}},
  };
  for (const row& r : rows) {
    std::vector<grid_point> kept;
    polyline_thinner thinner;
    thinner.start(r.in[0], kept);
    for (size_t i = 1; i < r.in.size(); ++i) thinner.add(r.in[i]);
    thinner.finish();
    EXPECT_EQ(kept, r.out) << r.what;
  }
}

}  // namespace
