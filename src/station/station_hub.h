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
  uint64_t commands = 0;        // commands done (their reply came)
  uint64_t commands_total = 0;  // commands in the job, from the check
  int32_t position[run_axis_count] = {};  // steps, where the machine stands
  double elapsed_s = 0.0;
  double remaining_s = 0.0;  // from the estimate
  int recoveries = 0;
  std::string last_recovery;  // the last recovery's message
  std::vector<std::string> messages;  // newest first, at most station_status_messages
  bool ended = false;
  int exit_code = -1;  // once ended
  uint64_t version = 0;  // grows with every change
};

/// The whole status as the API's JSON object.
std::string station_status_json(const station_status& status);

/// The operator's requests, checked against the state: false when the state
/// does not allow it (the API answers 409 then).
enum class station_request { pause, resume, stop };

class station_hub : public run_observer {
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

  // The run's side (the observer's events, and the gate between lines).

  /// A message the run has shown (caption and text joined by ": ").
  void add_message(const std::string& message);

 private:
  /// Under the lock: the status changed; wakes every waiting client.
  void changed_locked();

  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  station_status status_;
  uint64_t message_count_ = 0;  // messages shown so far; the newest's number
  bool pause_requested_ = false;
  bool stop_requested_ = false;
};
