// One reset for the whole run's state, so a process (a test) can hold many
// runs one after another.
#pragma once

/// Puts every subsystem back to its state at program start: the tracked
/// axes, the composer, the validator table, the ports, the exchange, homing,
/// recovery, the interpreter, and the hooks a run's options set (observers,
/// dwell switch, port opener, the message hook).
void reset_run_state();

/// Lets go of the hooks a run's options set, leaving the rest of what the
/// run left (the tracked axes, the counters) to be read.
void release_run_hooks();
