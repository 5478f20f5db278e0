// How long the machine would take for the job: the steps of every move at
// the machine's milliseconds per step (a move of several axes takes as long
// as its longest axis), every dwell, and the time each command and its reply
// spend on the 9600-baud line. Fed by the run's event hooks; homings,
// the scale query and the repositioning of a recovery are seen from the
// homing and recovery state, since they send their commands themselves.
#pragma once

#include <cstddef>
#include <cstdint>

struct axis_moves;

struct job_estimate_record {
  double move_ms = 0.0;   // steps at ms_per_step
  double dwell_ms = 0.0;  // dwells as the script asks for them
  double wire_ms = 0.0;   // commands and replies on the line
  uint64_t exchanges = 0;  // commands sent, with their replies
  int64_t steps = 0;       // the steps timed in move_ms

  // What the last event saw, to find the homings between two events.
  int32_t seen_steps[3] = {0, 0, 0};
  bool seen_homed = false;
  bool seen_scales_queried = false;
  // The move of the last composed command, timed when the command is sent.
  int64_t pending_steps = 0;
  bool pending = false;
  // Where the last composed line started: a recovery returns there.
  int32_t line_start_steps[3] = {0, 0, 0};
  // A recovery under way: where the job stood, to home from, and where the
  // failed line started, to return to.
  bool recovery_pending = false;
  int32_t recovery_steps[3] = {0, 0, 0};
  int32_t recovery_return_steps[3] = {0, 0, 0};
  int32_t resume_count_at_recovery = 0;
};

job_estimate_record& job_estimate_state();
/// Starts a new estimate from the current run state.
void reset_job_estimate();

/// The whole estimate in milliseconds.
double job_estimate_ms();

/// Line time of one exchange: the command and its line feed, the reply and
/// its carriage return and line feed, ten bits a byte at 9600 baud.
double exchange_wire_ms(size_t command_length, size_t reply_length);

/// The length of the shortest reply the machine accepts for `command`: six
/// characters for a home command and a scale query, one ("X") for a move.
size_t shortest_reply_length(const char* command);

/// Formats milliseconds as h:mm:ss, rounded to the nearest second.
void format_hms(double milliseconds, char* out, size_t size);

// The run's events, called by the hooks that install_run_comforts sets.
void estimate_line_started();
void estimate_motion(const axis_moves& moves, const char* command);
void estimate_command(const char* command);
void estimate_dwell(uint32_t milliseconds);
void estimate_recovery_started();
/// Counts what happened since the last event (a homing on the last line).
void estimate_run_finished();

/// True when nothing was sent to a machine: no homing with a link, which
/// comes before any command a link carries.
bool estimate_is_dry_run();
