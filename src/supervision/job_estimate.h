// How long the machine would take for the job: the steps of every move at
// the machine's milliseconds per step (a move of several axes takes as long
// as its longest axis), every dwell, and the time each command and its reply
// spend on the 9600-baud line. A plain subscriber to the run's events: every
// command a run issues (its motion, the homings, the scale query, a
// recovery's repositioning) comes with the travel it makes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/run_events.h"

struct job_estimate_record {
  double move_ms = 0.0;         // steps at ms_per_step
  double dwell_ms = 0.0;        // dwells as the script asks for them
  double wire_ms = 0.0;         // commands and replies on the line
  uint64_t exchanges = 0;       // commands issued, with their replies
  int64_t steps = 0;            // the steps timed in move_ms
  bool scales_queried = false;  // a machine was asked for its scales
};

/// The whole estimate in milliseconds.
double job_estimate_ms(const job_estimate_record& figures);

/// True when nothing was sent to a machine: no scale query, which comes
/// with the first homing on a link, before any command the link carries.
bool estimate_is_dry_run(const job_estimate_record& figures);

/// The subscriber that keeps an estimate: a front end owns one, hands it to
/// the run and reads its figures afterwards. A run that never starts (its
/// script missing) leaves it at zero.
class job_estimate : public run_observer {
 public:
  const job_estimate_record& figures() const { return figures_; }
  double total_ms() const { return job_estimate_ms(figures_); }
  bool dry_run() const { return estimate_is_dry_run(figures_); }

  void run_started(const char*) override { figures_ = job_estimate_record{}; }
  void command_issued(const command_event& e) override;
  void dwell(uint32_t milliseconds) override { figures_.dwell_ms += milliseconds; }

 private:
  job_estimate_record figures_;
};

/// Line time of one exchange: the command and its line feed, the reply and
/// its carriage return and line feed, ten bits a byte at 9600 baud.
double exchange_wire_ms(size_t command_length, size_t reply_length);

/// The length of the shortest reply the machine accepts for `command`: six
/// characters for a home command and a scale query, one ("X") for a move.
size_t shortest_reply_length(const char* command);

/// Formats milliseconds as h:mm:ss, rounded to the nearest second.
void format_hms(double milliseconds, char* out, size_t size);
