// What millstation knows of the job it runs, shared between the run (one
// thread, as an observer and as the run's control) and the web server's
// threads (snapshots, a wait for the next change, the three controls). The
// run never waits for a client: every call from the run takes the lock
// briefly and returns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/run_events.h"
#include "runner/run_options.h"
#include "supervision/job_estimate.h"

enum class station_state { homing, running, paused, recovering, finished, failed, stopped };

/// "homing", "running", ... as the page and the API show them.
const char* station_state_name(station_state state);

/// The most messages a status carries, newest first.
constexpr size_t station_status_messages = 50;

struct station_status {
  station_state state = station_state::homing;
  std::string file;  // the line being run: FILE as its include line names it
  int line = 0;
  std::string text;
  uint64_t commands = 0;                  // commands done (their reply came)
  uint64_t commands_total = 0;            // commands in the job, from the check
  int32_t position[run_axis_count] = {};  // steps, where the machine stands
  double elapsed_s = 0.0;
  double remaining_s = 0.0;  // from the estimate
  int recoveries = 0;
  std::string last_recovery;          // the last recovery's message
  std::vector<std::string> messages;  // newest first, at most station_status_messages
  bool ended = false;
  int exit_code = -1;    // once ended
  uint64_t version = 0;  // grows with every change
};

/// The whole status as the API's JSON object.
std::string station_status_json(const station_status& status);

/// The operator's requests, checked against the state: false when the state
/// does not allow it (the API answers 409 then).
enum class station_request { pause, resume, stop };

class station_hub : public run_observer, public run_gate {
 public:
  // The web server's side: any thread.

  /// The status as it stands now.
  station_status snapshot() const;
  /// Waits until the status's version passes `seen` or `timeout_ms` pass;
  /// true with the new status in `out` when it changed.
  bool wait_for_change(uint64_t seen, int timeout_ms, station_status& out) const;
  /// Messages with a number above `after` (each message is numbered from
  /// 1 in the order shown), oldest first; `last` gets the newest number.
  std::vector<std::string> messages_after(uint64_t after, uint64_t& last) const;
  /// Pause, continue or stop. A pause takes effect when the exchange in
  /// flight has completed; a stop does what Ctrl-C does.
  bool request(station_request what);

  // The front end's side.

  /// Commands in the job and its estimated duration, from the check made
  /// before the run.
  void set_job(uint64_t commands_total, double estimate_ms);
  /// The run has ended with this exit code: every waiting client wakes.
  void finish(int exit_code);
  /// Whether a stop was asked for on the page (not by Ctrl-C).
  bool stop_was_requested() const;

  // The run's side (the observer's events, and the gate between lines).

  /// A message the run has shown (caption and text joined by ": ").
  void add_message(const std::string& message);

  void run_started(const char* script) override;
  void line_started(const line_event& e) override;
  void motion_composed(const motion_event& e) override;
  void command_issued(const command_event& e) override;
  void reply_received(const reply_event& e) override;
  void dwell(uint32_t milliseconds) override;
  void homing_done(const homing_event& e) override;
  void recovery_started(const char* failed_line) override;
  void recovery_finished(bool ok) override;
  void run_finished(const run_summary& summary) override;
  void message_shown(const char* caption, const char* text) override;

  /// Holds while a pause is requested (the run's one thread waits here,
  /// between lines); false once a stop is requested.
  bool hold_before_line(const line_place& where) override;
  /// M0/M1: as if the operator asked for a pause.
  void program_stop(const line_place& where) override;

 private:
  /// Under the lock: the status changed; wakes every waiting client.
  void changed_locked();
  void add_message_locked(const std::string& message);
  /// Under the lock: the status with the clock read now.
  station_status timed_locked() const;
  bool stopping_locked() const;

  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  station_status status_;
  uint64_t message_count_ = 0;  // messages shown so far; the newest's number
  bool pause_requested_ = false;
  bool stop_requested_ = false;
  // The run's side.
  job_estimate done_;        // the estimate of what was sent so far
  double total_ms_ = 0.0;    // the job's estimate, from set_job
  uint64_t started_ms_ = 0;  // 0: no run yet
  bool clock_stopped_ = false;
  int recovery_depth_ = 0;
  command_kind last_kind_ = command_kind::motion;
  // Where the command in flight leaves the machine once its reply comes.
  int32_t pending_[run_axis_count] = {};
  bool has_pending_ = false;
  std::string last_message_;
};
