// Collecting the toolpath: plain subscribers to the run's events record the
// moves and time the job; the run itself is started by the run glue below.
#include <cstdio>
#include <cstring>

#include "link/port_opening.h"
#include "link/validator_table.h"
#include "preview/stand_in_controller.h"
#include "preview/toolpath.h"
#include "runner/run_events.h"
#include "runner/run_state.h"
#include "runner/script_interpreter.h"
#include "supervision/homing.h"
#include "supervision/job_estimate.h"

namespace {

constexpr int name_slots = max_include_depth + 2;

struct collector_record {
  toolpath* path = nullptr;
  char files[name_slots][512] = {};  // the file run at each include depth
  int depth = 0;
  int line = 0;
  bool ever_homed = false;
  bool estimate_started = false;
};
collector_record collector;

// The estimate starts from the state the run starts from, so it starts at
// the run's first event, after the run's reset.
void start_estimate_once() {
  if (collector.estimate_started) return;
  reset_job_estimate();
  collector.estimate_started = true;
}

void note_homing() {
  if (homing_state().homed) collector.ever_homed = true;
}

void collect_line_started(const char* file, int depth, int line_number) {
  start_estimate_once();
  estimate_line_started();
  note_homing();
  if (depth >= 0 && depth < name_slots) {
    // A file's first line names it; later lines of it leave the name be.
    if (line_number == 1)
      std::snprintf(collector.files[depth], sizeof collector.files[depth], "%s", file);
    collector.depth = depth;
  }
  collector.line = line_number;
}

void collect_motion(const axis_moves& moves, bool rapid, const char* command) {
  estimate_motion(moves, command);
  note_homing();
  // A move composed before the first homing starts from a position the
  // machine never stood at; the record forgets it at the homing, and so
  // does the picture.
  if (!command || !homing_state().homed) return;
  const axis_model& model = axis_model_state();
  toolpath_move move{};
  for (int a = 0; a < axis_count; ++a) {
    move.from[a] = model.axes[a].position_steps;
    move.to[a] = static_cast<int32_t>(int64_t{model.axes[a].position_steps} +
                                      int64_t{moves.direction[a]} * moves.steps[a]);
  }
  move.rapid = rapid;
  collector.path->moves.push_back(move);
}

void collect_dwell(uint32_t milliseconds) {
  estimate_dwell(milliseconds);
  ++collector.path->dwells;
}

void collect_command(const char* command) {
  estimate_command(command);
  note_homing();
}

void collect_recovery() { estimate_recovery_started(); }

void collect_run_finished(bool) {
  start_estimate_once();
  estimate_run_finished();
  note_homing();
}

run_events collecting_subscribers() {
  run_events events;
  events.line_started = collect_line_started;
  events.motion_composed = collect_motion;
  events.dwell = collect_dwell;
  events.command_issued = collect_command;
  events.recovery_started = collect_recovery;
  events.run_finished = collect_run_finished;
  return events;
}

// ===========================================================================
// RUN GLUE: the one place where the preview sets the run's module state by
// hand. It copies the run sequence of run_program without the output files,
// swaps in `observers` as the event hooks, turns the dwells off and puts the
// stand-in controller behind every port, and restores all three afterwards.
// It goes once run_program takes its opener, dwell switch and observers as
// options. The axis model is left as the run left it, for the caller to read.
// ===========================================================================
bool run_script_for_preview(const char* script, const run_events& observers) {
  reset_run_state();
  // The table points into this buffer, which lives for the whole run.
  char validator_text[validator_text_size];
  std::memcpy(validator_text, builtin_validator_text, validator_text_size);
  if (!reload_validator_table(validator_text)) return false;

  const run_events saved_hooks = run_event_hooks();
  const bool saved_waits = dwells_wait();
  run_event_hooks() = observers;
  set_dwells_wait(false);
  set_device_opener(open_stand_in_controller);

  const bool ok = run_script_file(script, nullptr);
  if (observers.run_finished) observers.run_finished(ok);
  close_all_ports();

  set_device_opener(nullptr);
  set_dwells_wait(saved_waits);
  run_event_hooks() = saved_hooks;
  free_validator_table();
  return ok;
}
// ===========================================================================

/// What the run left: the envelope since the last homing, the scales, the
/// home position and where it stopped.
void read_what_the_run_left(toolpath& path) {
  start_estimate_once();  // a run that never started estimates nothing
  const axis_model& model = axis_model_state();
  path.homed = collector.ever_homed;
  for (int a = 0; a < axis_count; ++a) {
    path.envelope_min[a] = model.axes[a].envelope_min;
    path.envelope_max[a] = model.axes[a].envelope_max;
    path.scales[a] = model.scales[a];
  }
  inches_to_steps(model.work_surface_depth, 'z', path.home[axis_z]);
  if (!path.ran_to_end && collector.line > 0) {
    char where[600];
    std::snprintf(where, sizeof where, "%s:%d", collector.files[collector.depth], collector.line);
    path.stopped_at = where;
  }
  path.estimate_ms = job_estimate_ms();
}

}  // namespace

bool collect_toolpath(const char* script, toolpath& path) {
  path = toolpath{};
  path.script = script;
  collector = collector_record{};
  collector.path = &path;
  path.ran_to_end = run_script_for_preview(script, collecting_subscribers());
  read_what_the_run_left(path);
  collector.path = nullptr;
  return path.ran_to_end;
}
