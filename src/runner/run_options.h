// What a front end asks of a run: millrun, the preview, the pre-cut check
// and millresume each fill these and hand them to run_program; none of them
// sets another module's state by hand.
#pragma once

#include <string>
#include <vector>

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
};
