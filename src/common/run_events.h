// What a run tells the programs that watch it: the progress line, the time
// estimate, the preview, the pre-cut check. Any number of observers may
// subscribe; each sees every event, in the order they subscribed. A run
// without observers behaves exactly the same.
#pragma once

#include <cstdint>

#include "common/machine_defaults.h"

constexpr int run_axis_count = axis_letter_count;  // X, Y, Z

/// A script line: `depth` is 1 for the top-level file, 2 for a file it
/// includes, and so on. `text` is the line as read (at line_started its line
/// end still in place; at line_finished trimmed, its comment and N-word as
/// the road left them).
struct line_event {
  const char* path;
  int depth;
  int line_number;
  const char* text;
};

/// A translated motion line: where the tracked position stood and where the
/// line takes it, in steps and in inches; the composed command, or null when
/// the line moves nothing. `homed`: the record is tied to the machine (a line
/// composed before the first homing starts from a position the machine never
/// stood at).
struct motion_event {
  int32_t from_steps[run_axis_count];
  int32_t to_steps[run_axis_count];
  double from_in[run_axis_count];
  double to_in[run_axis_count];
  int64_t longest_steps;  // the longest axis's travel: the move's duration
  bool rapid;             // G00/G0, and the continuation lines after them
  bool homed;
  const char* command;
};

enum class command_kind { motion, home, scale_query, reposition };

/// A command goes to the machine (or, in a dry run, would). `steps`: the
/// travel it makes as far as the record knows (0 where it does not know).
struct command_event {
  const char* command;
  command_kind kind;
  int64_t steps;
  /// The length of the shortest reply the command expects, where the sender
  /// has looked it up already; -1 where it has not.
  int32_t reply_length = -1;
  /// It goes out on a link (false in a dry run, where nothing is sent).
  bool to_machine = false;
};

/// The controller's reply to a command sent on a link: `reply` is null when
/// none came.
struct reply_event {
  const char* command;
  const char* reply;
  bool accepted;
};

/// A reply is still awaited: told about once a second while the wait lasts
/// (only while someone listens). `waited_ms` since the command went out,
/// `silent_ms` since the last byte of the reply (or the command).
struct wait_event {
  const char* command;
  uint64_t waited_ms;
  uint64_t silent_ms;
};

/// The machine (or, in a dry run, the record) was homed: the axes stand at
/// `home_steps` now.
struct homing_event {
  int32_t home_steps[run_axis_count];
  bool recovery;  // the homing of a recovery, which keeps the envelope
};

/// A line the run refuses, when the run reports refused lines and goes on
/// (the pre-cut check) instead of stopping at the first: `what` names the
/// problem ("Unknown GCode"), `why` explains it (may be empty).
/// `convertible`: what the line asks for is CAM output that millprep
/// converts (millimetres, arcs, drilling cycles, words in another order).
struct refusal_event {
  const char* path;
  int line_number;
  const char* text;
  const char* what;
  const char* why;
  bool convertible;
};

/// A position outside the run's travel limits: `axis` 0, 1, 2 for X, Y, Z,
/// reached by the line named (by its target, or by the homing it caused).
struct travel_event {
  const char* path;
  int line_number;
  const char* text;
  int axis;
  double position_in;
  double limit;
  bool above;  // beyond the upper limit; else below the lower
};

/// What the run leaves: the envelope since the last homing (since the first
/// after the last "open comm" where a recovery homed), the scales, the Z home
/// position and the recoveries.
struct run_summary {
  bool ok;
  int32_t envelope_min[run_axis_count];
  int32_t envelope_max[run_axis_count];
  int32_t scale_numerator[run_axis_count];
  int32_t scale_denominator[run_axis_count];
  int32_t z_home_steps;
  bool homed;  // a homing happened in the run
  int32_t resume_count;
};

class run_observer {
 public:
  virtual ~run_observer() = default;
  /// A run begins (its state is fresh): a place to start anew.
  virtual void run_started(const char* /*script*/) {}
  /// A script file begins: the top-level script at depth 1, a file it
  /// includes at 2, and so on; `path` as the include line names it.
  virtual void file_started(const char* /*path*/, int /*depth*/) {}
  virtual void line_started(const line_event&) {}
  virtual void line_finished(const line_event&, bool /*ok*/) {}
  virtual void motion_composed(const motion_event&) {}
  virtual void command_issued(const command_event&) {}
  virtual void reply_received(const reply_event&) {}
  virtual void reply_awaited(const wait_event&) {}
  /// Whether this observer shows a long wait (reply_awaited): only then does
  /// the wait for a reply wake to tell it.
  virtual bool shows_waits() const { return false; }
  virtual void dwell(uint32_t /*milliseconds*/) {}
  virtual void homing_done(const homing_event&) {}
  /// The machine's scales as the query left them (numerator, denominator).
  virtual void scales_queried(const int32_t (&/*numerators*/)[run_axis_count],
                              const int32_t (&/*denominators*/)[run_axis_count]) {}
  virtual void recovery_started(const char* /*failed_line*/) {}
  virtual void recovery_finished(bool /*ok*/) {}
  virtual void line_refused(const refusal_event&) {}
  virtual void travel_exceeded(const travel_event&) {}
  /// The script has ended; the envelope report is still to be written.
  virtual void run_finished(const run_summary&) {}
  /// A message is about to be shown: a status line makes room for it.
  virtual void message_coming() {}
  /// A message as shown (after message_coming); a note of advice on
  /// standard error ("Resume with: ...") comes with an empty caption.
  virtual void message_shown(const char* /*caption*/, const char* /*text*/) {}
};

/// The run's observers. Subscribing one twice is ignored; at most
/// max_run_observers at once.
constexpr int max_run_observers = 8;
bool subscribe(run_observer* observer);
void unsubscribe_all();
/// Whether anyone listens (the hot path skips building events otherwise).
bool run_observed();
/// Whether an observer shows long waits for a reply.
bool waits_observed();

void emit_run_started(const char* script);
void emit_file_started(const char* path, int depth);
void emit_line_started(const line_event& e);
void emit_line_finished(const line_event& e, bool ok);
void emit_motion_composed(const motion_event& e);
void emit_command_issued(const command_event& e);
void emit_reply_received(const reply_event& e);
void emit_reply_awaited(const wait_event& e);
void emit_dwell(uint32_t milliseconds);
void emit_homing_done(const homing_event& e);
void emit_scales_queried(const int32_t (&numerators)[run_axis_count],
                         const int32_t (&denominators)[run_axis_count]);
void emit_recovery_started(const char* failed_line);
void emit_recovery_finished(bool ok);
void emit_line_refused(const refusal_event& e);
void emit_travel_exceeded(const travel_event& e);
void emit_run_finished(const run_summary& summary);
void emit_message_coming();
void emit_message_shown(const char* caption, const char* text);

/// Whether a dwell really waits (a run's option; true at the start).
bool dwells_wait();
void set_dwells_wait(bool wait);

/// Whether the trace (the validator listing, "gCode:", "CMD:", "RESP:" and
/// "ERR:" lines) goes to standard output (a run's option; true at the start).
bool trace_printed();
void set_trace_printed(bool printed);

/// Forgets the observers and puts the dwell and trace switches back.
void reset_run_events();
