// The estimate and the progress line as millrun's main owns and hands them
// in, for tests that run script files in the process. The progress line draws
// on the recording terminal (support/fake_terminal.h).
#pragma once

#include "common/message.h"
#include "common/run_events.h"
#include "supervision/job_estimate.h"
#include "supervision/progress.h"
#include "support/fake_terminal.h"

struct observed_run {
  job_estimate estimate;
  progress_line progress{estimate, recording_progress_terminal()};

  /// Subscribes both, as run_program does, and tells them that a run starts.
  void start() {
    subscribe(&estimate);
    subscribe(&progress);
    set_before_message_hook(emit_message_coming);
    emit_run_started("job.nc");
  }

  /// The end of the run, as run_program tells it.
  void finish(bool ok) {
    run_summary summary{};
    summary.ok = ok;
    emit_run_finished(summary);
  }
};
