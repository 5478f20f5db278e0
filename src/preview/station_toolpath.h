// The job's whole path as millstation's page shows it: a top view (X, Y)
// and a side view (X, Z) whose lines are split into pieces, each piece
// marked with the number of commands done when the machine starts on it, so
// that the page can tell the part already cut from the rest. Each view says
// how a position in steps maps onto the picture, for the page's tool marker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/toolpath.h"

/// A point the machine travels through, in steps; `command`: the commands
/// done (their reply came) when the move that reaches it begins.
struct station_path_point {
  int32_t steps[axis_count];
  uint32_t command;
};

/// What the drawing needs: the run's envelope, home and scales (`frame`, its
/// moves left empty) and the travelled points as one line, starting where
/// the first move starts.
struct station_path {
  toolpath frame;
  std::vector<station_path_point> points;
};

/// The most bytes the picture takes, whatever the job.
constexpr size_t station_svg_limit = 2000000;
/// The most pieces a view's line is split into.
constexpr size_t station_svg_pieces = 2000;
/// The width of the screen the picture is drawn for, in pixels: points are
/// kept to a quarter of its pixels.
constexpr double station_svg_screen_px = 1600.0;

/// Runs `script` as on a machine (homing before the first line's command),
/// against the stand-in controller: nothing is written and dwells do not
/// wait. Lines the run would refuse are passed over. False with `error` when
/// the run stops before the job's end.
bool collect_station_path(const std::string& script, station_path& path, std::string& error);

/// The picture of `path`: at most station_svg_limit bytes.
std::string draw_station_path(const station_path& path);

/// The job's whole path as one SVG for the station's page, made by a run
/// without a machine (as millplot makes its picture); false with `error` when
/// the script cannot be drawn.
bool station_toolpath_svg(const std::string& script, std::string& svg, std::string& error);
