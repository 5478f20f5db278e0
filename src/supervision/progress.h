// The comforts of a long run: a status line on standard error, redrawn in
// place at most ten times a second while the job runs (the script line
// reached, commands, recoveries, elapsed time and the time left), and at the
// end of a dry run the machine time the job would take. The status line is
// shown only where someone watches a terminal, so logs and redirected runs
// see exactly the program's ordinary output.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/run_events.h"
#include "supervision/job_estimate.h"

/// The number of lines the script reader hands out for `path` (a line of
/// any length counts once); 0 when it cannot be read.
int64_t count_script_lines(const char* path);

/// What the status line shows.
struct progress_values {
  int64_t line = 0;                    // the top-level line reached
  int64_t lines = 0;                   // the top-level file's line count
  const char* include_name = nullptr;  // the file the top-level line includes
  int64_t include_line = 0;
  int64_t include_lines = 0;
  uint64_t commands = 0;
  uint32_t recoveries = 0;
  uint64_t elapsed_ms = 0;
  double left_ms = -1.0;  // the time left; negative while it cannot be told
  /// A reply awaited for longer than a moment: the command (null while no
  /// wait is shown), how long, and how long without a byte.
  const char* awaited_command = nullptr;
  uint64_t waited_ms = 0;
  uint64_t silent_ms = 0;
};

/// A reply awaited this long is shown on the status line.
constexpr uint64_t wait_shown_after_ms = 2000;
/// This long without a byte, the status line says what may be wrong.
constexpr uint64_t silence_told_after_ms = 60000;

/// The fraction of the job done, from the lines finished (an included
/// file's progress counts as part of the line that includes it).
double progress_fraction(const progress_values& values);

/// The pace of the job: the fraction done at moments of the last while,
/// from which the time left is told. The pace is measured over a window
/// that grows with the run (about half of it), not from the start: a
/// wrapper script whose first lines take no time, or a quick dry part before
/// the machine's, would otherwise promise an early end.
struct progress_pace {
  static constexpr int slots = 8;
  uint64_t times[slots] = {};
  double fractions[slots] = {};
  int count = 0;   // samples kept, at most `slots`
  int oldest = 0;  // the slot of the oldest sample
  uint64_t first_time = 0;
};

/// Keeps a sample when enough time has passed since the last one.
void pace_note(progress_pace& pace, uint64_t now_ms, double fraction);

/// The time left at the pace of the window, or a negative value while too
/// little time has passed or nothing moved in it.
double pace_left_ms(const progress_pace& pace, uint64_t now_ms, double fraction);

/// Formats the status line to fit `columns` (0: no limit), one column left
/// free so that the terminal never wraps it. Returns its length.
size_t format_status_line(const progress_values& values, int columns, char* out, size_t size);

/// The terminal the status line goes to; tests hand in a fake instead.
struct progress_terminal {
  bool (*status_line_possible)();
  int (*columns)();
  void (*draw)(const char* text, size_t length);
  void (*erase)();
  void (*write_line)(const char* text);
  uint64_t (*now_ms)();
};
/// The platform's terminal (standard error).
const progress_terminal& platform_progress_terminal();

/// What the status line keeps between events.
struct progress_record {
  bool enabled = false;  // a status line is kept
  bool drawn = false;    // and is on the screen now
  uint64_t started_ms = 0;
  uint64_t last_draw_ms = 0;
  uint32_t events = 0;  // since the clock was last read
  bool lines_counted = false;
  int64_t line = 0;
  int64_t lines = 0;
  int64_t include_line = 0;
  int64_t include_lines = 0;
  bool in_include = false;
  char include_path[512] = {};  // the included file last counted
  int64_t include_path_lines = 0;
  uint32_t recoveries = 0;
  uint64_t commands = 0;
  progress_pace pace;
  char awaited_command[128] = {};  // empty while no long wait is shown
  uint64_t waited_ms = 0;
  uint64_t silent_ms = 0;
};

/// The subscriber that keeps the status line (shown when the terminal can
/// show one) and, at the end of a dry run that ran to its end, prints the
/// machine time of `estimate`, which the front end subscribes too.
class progress_line : public run_observer {
 public:
  explicit progress_line(const job_estimate& estimate,
                         const progress_terminal& terminal = platform_progress_terminal())
      : estimate_(estimate), terminal_(terminal) {}

  /// Erases the status line, if one is shown, so that a message begins on a
  /// clean line; the next redraw brings it back.
  void clear_line();

  void run_started(const char*) override;
  void line_started(const line_event& e) override;
  void command_issued(const command_event&) override;
  void reply_received(const reply_event&) override { end_wait(); }
  bool shows_waits() const override { return state_.enabled; }
  void line_finished(const line_event&, bool) override { end_wait(); }
  void reply_awaited(const wait_event& e) override;
  // A long wait follows: show where the run stands before it.
  void dwell(uint32_t) override { tick(true); }
  void recovery_started(const char*) override;
  void message_coming() override { clear_line(); }
  void run_finished(const run_summary& summary) override;

 private:
  progress_values current_values(uint64_t now);
  void redraw(uint64_t now);
  void tick(bool now = false);
  int64_t include_line_count(const char* path);
  /// The wait is over (a reply, a new command, the next line): the status
  /// line no longer shows it.
  void end_wait() { state_.awaited_command[0] = '\0'; }

  const job_estimate& estimate_;
  const progress_terminal& terminal_;
  progress_record state_;
};
