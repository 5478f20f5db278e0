// The toolpath of a script: what a preview run moved, collected from the
// run's events. A script is translated as in a dry run; no machine moves and
// no output file is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gcode/axis_model.h"

/// One composed move, in steps, from the tracked position to its target.
struct toolpath_move {
  int32_t from[axis_count];
  int32_t to[axis_count];
  bool rapid;
};

struct toolpath {
  std::string script;  // as given
  std::vector<toolpath_move> moves;
  bool homed = false;  // the envelope below is since the last homing
  int32_t envelope_min[axis_count] = {0, 0, 0};
  int32_t envelope_max[axis_count] = {0, 0, 0};
  int32_t home[axis_count] = {0, 0, 0};
  axis_scale scales[axis_count] = {{1024, 1688}, {1024, 1688}, {4000, 1000}};
  bool ran_to_end = false;
  std::string stopped_at;  // "file:line" of the line the run stopped at
  double estimate_ms = 0.0;
  uint64_t dwells = 0;
};

/// Runs `script` through the translation as a dry run and collects what it
/// moves: no translation log or envelope report is written, dwells do not
/// wait, and a link the script opens is answered by a stand-in controller
/// that accepts every command (nothing reaches a real port). The run's
/// messages are shown as usual. True when the script ran to its end.
bool collect_toolpath(const char* script, toolpath& path);
