// Collecting the toolpath: a plain subscriber to the run's events records
// the moves; the estimate's own subscriber times the job.
#include <cstdio>

#include "runner/stand_in_controller.h"
#include "preview/toolpath.h"
#include "runner/run_program.h"
#include "runner/script_interpreter.h"
#include "supervision/job_estimate.h"

namespace {

constexpr int name_slots = max_include_depth + 2;

class toolpath_collector : public run_observer {
 public:
  explicit toolpath_collector(toolpath& path) : path_(path) {}

  void line_started(const line_event& e) override {
    if (e.depth >= 0 && e.depth < name_slots) {
      // A file's first line names it; later lines of it leave the name be.
      if (e.line_number == 1) std::snprintf(files_[e.depth], sizeof files_[e.depth], "%s", e.path);
      depth_ = e.depth;
    }
    line_ = e.line_number;
  }

  void motion_composed(const motion_event& e) override {
    // A move composed before the first homing starts from a position the
    // machine never stood at; the record forgets it at the homing, and so
    // does the picture.
    if (!e.command || !e.homed) return;
    toolpath_move move{};
    for (int a = 0; a < axis_count; ++a) {
      move.from[a] = e.from_steps[a];
      move.to[a] = e.to_steps[a];
    }
    move.rapid = e.rapid;
    path_.moves.push_back(move);
  }

  void dwell(uint32_t) override { ++path_.dwells; }

  /// What the run left: the envelope since the last homing, the scales, the
  /// home position and where it stopped.
  void run_finished(const run_summary& s) override {
    path_.homed = s.homed;
    for (int a = 0; a < axis_count; ++a) {
      path_.envelope_min[a] = s.envelope_min[a];
      path_.envelope_max[a] = s.envelope_max[a];
      path_.scales[a] = axis_scale{s.scale_numerator[a], s.scale_denominator[a]};
    }
    path_.home[axis_z] = s.z_home_steps;
    if (!s.ok && line_ > 0) {
      char where[600];
      std::snprintf(where, sizeof where, "%s:%d", files_[depth_], line_);
      path_.stopped_at = where;
    }
  }

 private:
  toolpath& path_;
  char files_[name_slots][512] = {};  // the file run at each include depth
  int depth_ = 0;
  int line_ = 0;
};

}  // namespace

bool collect_toolpath(const char* script, toolpath& path) {
  path = toolpath{};
  path.script = script;
  toolpath_collector collector(path);
  job_estimate estimate;
  run_options options = stand_in_run_options(script);
  options.observers = {&estimate, &collector};
  path.ran_to_end = run_program(options) == 0;
  path.estimate_ms = estimate.total_ms();
  return path.ran_to_end;
}
