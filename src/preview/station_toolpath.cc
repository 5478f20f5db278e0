// Collecting the station's path: a subscriber to a run as on the machine
// keeps the travelled points and counts the commands as the machine would
// answer them.
#include "preview/station_toolpath.h"

#include <cstdio>
#include <cstring>

#include "runner/run_program.h"
#include "runner/stand_in_controller.h"

namespace {

class station_path_collector : public run_observer {
 public:
  explicit station_path_collector(station_path& path) : path_(path) {}

  void line_started(const line_event& e) override {
    std::snprintf(where_, sizeof where_, "%s:%d", e.path, e.line_number);
  }

  // Every command the run issues is one exchange on the machine, homing and
  // scale queries included; the stand-in answers each at once.
  void command_issued(const command_event&) override {
    if (issued_ < UINT32_MAX) ++issued_;
  }

  void motion_composed(const motion_event& e) override {
    // A move composed before the first homing starts from a position the
    // machine never stood at (a run as on the machine homes first anyway).
    if (!e.command || !e.homed) return;
    // The move's own command is about to go: `issued_` are done by then.
    std::vector<station_path_point>& points = path_.points;
    if (points.empty() || std::memcmp(points.back().steps, e.from_steps, sizeof e.from_steps) != 0)
      points.push_back(point(e.from_steps));
    points.push_back(point(e.to_steps));
  }

  void run_finished(const run_summary& s) override {
    toolpath& frame = path_.frame;
    frame.homed = s.homed;
    for (int a = 0; a < axis_count; ++a) {
      frame.envelope_min[a] = s.envelope_min[a];
      frame.envelope_max[a] = s.envelope_max[a];
      frame.scales[a] = axis_scale{s.scale_numerator[a], s.scale_denominator[a]};
    }
    frame.home[axis_z] = s.z_home_steps;
  }

  const char* where() const { return where_; }

 private:
  station_path_point point(const int32_t (&steps)[run_axis_count]) const {
    station_path_point p{};
    for (int a = 0; a < axis_count; ++a) p.steps[a] = steps[a];
    p.command = issued_;
    return p;
  }

  station_path& path_;
  uint32_t issued_ = 0;
  char where_[600] = {};
};

}  // namespace

bool collect_station_path(const std::string& script, station_path& path, std::string& error) {
  path = station_path{};
  path.frame.script = script;
  station_path_collector collector(path);
  run_options options = stand_in_run_options(script);
  options.trace = false;
  options.machine_order = true;
  // The station checks the job before it runs it; what the check lets
  // through (a program stop, run there as a pause) moves nothing.
  options.skip_refused = true;
  options.observers = {&collector};
  path.frame.ran_to_end = run_program(options) == 0;
  if (path.frame.ran_to_end) return true;
  error = collector.where()[0] ? std::string("the job stops at ") + collector.where()
                               : std::string("the job could not be run");
  return false;
}

bool station_toolpath_svg(const std::string& script, std::string& svg, std::string& error) {
  station_path path;
  if (!collect_station_path(script, path, error)) return false;
  svg = draw_station_path(path);
  return true;
}
