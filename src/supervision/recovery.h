// Recovery after a failed command: the link is opened again, the machine is
// homed again, each axis is driven back to the tracked position with one
// single-axis move, and the failed line is run once more.
#pragma once

#include <cstdint>

#include "gcode/axis_model.h"
#include "link/validator_table.h"
#include "platform/device.h"

struct recovery_record {
  int32_t resume_count = 0;
  int depth = 0;                      // recoveries under way, one inside the re-run of another
  char reposition_command[256] = {};  // the last repositioning sent, named when refused
};

recovery_record& recovery_state();
void reset_recovery();

/// What the recovery asks of the script runner, which installs it: the
/// re-run of the failed line (normalised in place, as the runner's own lines
/// are), and the including files' hold on the port that is closed and
/// opened again, so that none of them keeps a closed handle.
struct recovery_callbacks {
  bool (*rerun_line)(char* line_text, port_handle& handle) = nullptr;
  void (*port_closing)(port_handle closed) = nullptr;
  void (*port_reopened)(port_handle reopened) = nullptr;
};

/// Installs the runner's side of the recovery; it stays across resets.
/// Without it a failed line is not run again, and its recovery fails.
void install_recovery_callbacks(const recovery_callbacks& callbacks);

/// How many recoveries one line may go through, each inside the re-run of
/// the one before, before the line fails.
constexpr int recovery_limit = 3;

/// The failure step of a G-code line whose command failed: closes and
/// re-opens the remembered device (pulsing an LPC2000 controller), then
/// resume_after_error. `start` is the tracked position the line started
/// from; `handle` is the caller's variable.
bool recover_failed_line(const char* failed_line, const axis_position& start, port_handle& handle);

/// Homes, drives back to where the failed line started (X, then Y, then Z
/// last, down onto the point where the tool already stood), counts the
/// recovery and re-runs the line, which cuts its own path again.
bool resume_after_error(const char* failed_line, const axis_position& start, port_handle& handle);

/// Drives the homed machine to `target`, one single-axis move each for X,
/// then Y, then Z (Z comes down last, onto the point where the tool stood),
/// for each axis not already there, and logs each move; the record takes the
/// target. The envelope is left as it is. False when a move is refused;
/// `refused` then points at that move's command (valid until the next call),
/// for the caller to report.
bool reposition_axes(const axis_position& target, port_handle handle, const char*& refused);

void report_reposition_failure(const char* failed_line, const char* reposition_command);
void report_resume_failure(const char* failed_line);
