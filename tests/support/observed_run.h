// The estimate and the progress line subscribed as millrun subscribes them,
// for tests that run script files in the process.
#pragma once

#include "common/run_events.h"
#include "supervision/job_estimate.h"
#include "supervision/progress.h"

/// Subscribes both and tells them that a run starts.
inline void start_observed_run() {
  subscribe(&job_estimate_observer());
  subscribe(&progress_observer());
  emit_run_started("job.nc");
}

/// The end of the run, as run_program tells it.
inline void finish_observed_run(bool ok) {
  run_summary summary{};
  summary.ok = ok;
  emit_run_finished(summary);
}
