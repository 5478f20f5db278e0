// One reset for the whole run's state, so a process (a test) can hold many
// runs one after another.
#pragma once

/// Puts every subsystem back to its state at program start.
void reset_run_state();
