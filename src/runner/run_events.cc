#include "runner/run_events.h"

namespace {
run_events hooks;
bool dwell_waits = true;
}  // namespace

run_events& run_event_hooks() { return hooks; }
bool dwells_wait() { return dwell_waits; }
void set_dwells_wait(bool wait) { dwell_waits = wait; }
