// The drilling cycles G81, G82, G83 and G73, expanded into the moves they
// make at one hole. Pure: the cycle's levels in, the steps out.
#pragma once

#include <functional>

/// Inches, in the job's coordinates; `code` is 81, 82, 83 or 73.
struct drill_cycle {
  int code = 81;
  double r_level = 0;  // where feeding starts and, with G99, where it returns
  double bottom = 0;
  double peck = 0;      // G83, G73: depth of each feed
  double dwell_ms = 0;  // G82: wait at the bottom
  double clear = 0;     // the level after the hole: R, or with G98 the higher of R and the start
};

struct cycle_step {
  enum kind { rapid_z, rapid_xy, feed_z, dwell } what = rapid_z;
  double value = 0;  // Z for moves, milliseconds for a dwell
};

/// G73 backs off this far between pecks; G83 returns to this far above the
/// depth reached before it feeds again.
constexpr double peck_clearance = 0.010;

/// How many moves one hole takes at most (not rounded to a whole number,
/// so that a huge count is told as it is).
double drill_cycle_lines(const drill_cycle& cycle);

/// The steps of one hole from the current Z: up to R when below it, over to
/// the hole, down to R, the drilling, back to the clear level.
void expand_drill_cycle(const drill_cycle& cycle, double current_z,
                        const std::function<void(const cycle_step&)>& emit);
