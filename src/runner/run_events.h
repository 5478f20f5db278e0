// Hooks for what watches a run from outside: the progress display, the time
// estimate, the toolpath preview. Each hook is optional; a run without any
// behaves exactly the same.
#pragma once

#include <cstdint>

struct axis_moves;

struct run_events {
  /// A script line is about to be interpreted; `depth` is 1 for the
  /// top-level file, 2 for a file it includes, and so on.
  void (*line_started)(const char* path, int depth, int line_number) = nullptr;
  /// A translated motion line: `moves` from the tracked position before it
  /// (still unchanged when this is called), `rapid` for G00/G0 (and the
  /// continuation lines that follow them), and the composed command, or null
  /// when the line moves nothing.
  void (*motion_composed)(const axis_moves& moves, bool rapid, const char* command) = nullptr;
  /// A dwell of `milliseconds` was met (it waits unless dwells are off).
  void (*dwell)(uint32_t milliseconds) = nullptr;
  /// A command goes to the machine's validator and, with a link, the wire.
  void (*command_issued)(const char* command) = nullptr;
  /// A failed command starts a recovery.
  void (*recovery_started)() = nullptr;
  /// The script has ended (`ok`: it ran to its end); the envelope report is
  /// still to be written.
  void (*run_finished)(bool ok) = nullptr;
};

/// The hooks of this process. Set them before run_program.
run_events& run_event_hooks();

/// Whether a dwell really waits (true unless a preview turned it off).
bool dwells_wait();
void set_dwells_wait(bool wait);
