// The toolpath preview: a script is translated as in a dry run, its motion
// collected from the run's events, and drawn as an SVG picture for a person
// to look at: the XY view with feed and rapid moves told apart and the depth
// in colour, the envelope with its extents in inches and steps, the home
// position, and a side view of Z against X.
#pragma once

#include <cstdint>
#include <cstdio>
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

/// Inches of `steps` on an axis under `scale`.
double steps_to_inches(int32_t steps, axis_scale scale);

/// Writes the SVG picture. False when writing failed.
bool write_toolpath_svg(const toolpath& path, std::FILE* out);

/// The default output of a script: its name with the extension replaced by
/// ".svg" (added where it has none), beside it. A script that is itself
/// called *.svg gets ".svg" appended, so that it is never overwritten.
std::string default_svg_name(const std::string& script);

/// The whole of millplot after its options: collects and writes `svg_path`;
/// `written` tells whether the picture was written. 0 when the script ran to
/// its end and the picture was written, else 1 (a failing script is still
/// drawn up to where it stopped). Problems are shown as messages.
int run_millplot(const std::string& script, const std::string& svg_path, bool& written);

struct millplot_options {
  std::string script;
  std::string output;  // empty: default_svg_name(script)
  bool help = false;
  bool version = false;
  std::string error;  // a usage error to show, else empty
};

/// Reads millplot's arguments: "-o FILE" (or "--output FILE") anywhere, and
/// the rest, joined with one blank each, as the script path, as millrun
/// takes it. "--" ends the options.
millplot_options parse_millplot_arguments(int argc, const char* const* argv);

extern const char* const millplot_usage;
