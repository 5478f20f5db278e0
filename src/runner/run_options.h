// What a front end asks of a run: millrun, the preview, the pre-cut check
// and millresume each fill these and hand them to run_program; none of them
// sets another module's state by hand.
#pragma once

#include <string>
#include <vector>

#include "common/line_place.h"
#include "common/run_events.h"
#include "platform/device.h"

/// Travel limits in inches, in the script's own coordinates; either bound of
/// an axis may be absent.
struct travel_limits {
  bool has_min[run_axis_count] = {false, false, false};
  bool has_max[run_axis_count] = {false, false, false};
  double min[run_axis_count] = {0.0, 0.0, 0.0};
  double max[run_axis_count] = {0.0, 0.0, 0.0};
  bool any() const {
    for (int a = 0; a < run_axis_count; ++a)
      if (has_min[a] || has_max[a]) return true;
    return false;
  }
};

/// Where a resumed job goes on: line `line` of the top-level script (`file`
/// empty) or of an included file, named as its include line names it.
struct restart_point {
  std::string file;
  int line = 0;  // 0: the run starts at the beginning
};

/// The operator's hold on a run (millstation's pause and stop), called by the
/// run's one thread.
class run_gate {
 public:
  virtual ~run_gate() = default;
  /// Before each G-code line, the previous line's exchange complete and the
  /// next command not yet sent: returns at once, or holds while the run is
  /// paused. False: the run is to stop here (a stop was requested).
  virtual bool hold_before_line(const line_place& where) = 0;
  /// A program stop (M0, M1) carried out as a pause: the run holds before
  /// its next line until the operator continues.
  virtual void program_stop(const line_place& where) = 0;
};

/// Opens a port or file for "open comm"; null: the platform's device.
using port_opener = port_handle (*)(const char* path, port_kind kind, open_disposition how);

struct run_options {
  std::string script;
  /// KelCodeOutput.txt and EnvelopeReport.txt are written.
  bool write_outputs = true;
  /// Dwells wait their time.
  bool dwells_wait = true;
  /// The trace goes to standard output.
  bool trace = true;
  /// How "open comm" opens its port: a stand-in controller for the preview
  /// and the check.
  port_opener opener = nullptr;
  /// Subscribed for this run, in this order.
  std::vector<run_observer*> observers;
  /// A resumed job: every line before this one is interpreted without
  /// moving anything; at it the machine is homed and driven to where the job
  /// stands, and the run goes on from there.
  restart_point start_at;
  /// Homing comes before the first line's command even without a machine,
  /// as on the machine, so the envelope is the one the machine travels.
  bool machine_order = false;
  /// Lines the run would refuse are told as events and passed over, as if
  /// absent, instead of stopping the run.
  bool skip_refused = false;
  /// Positions outside these limits are told as events.
  travel_limits limits;
  /// Between G-code lines the run asks this gate whether it may go on; null:
  /// it always may.
  run_gate* gate = nullptr;
  /// M0 and M1 (on a line of their own) after the job's first move pause the
  /// run at the gate instead of being refused: where an operator watches the
  /// run to continue it. Without a gate they are passed over.
  bool program_stops_pause = false;
};
