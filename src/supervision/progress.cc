#include "supervision/progress.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "platform/terminal.h"
#include "supervision/job_estimate.h"

namespace {

const progress_terminal platform_terminal{
    platform_status_line_possible, platform_terminal_columns, platform_draw_status_line,
    platform_erase_status_line,    platform_write_error_line, platform_coarse_now_ms,
};

constexpr uint64_t redraw_interval_ms = 100;  // ten redraws a second at most
// The clock is read on every fourth event: a dry run passes a line in a few
// microseconds, while a line on a machine takes tens of milliseconds on the
// wire alone, so a redraw is never late by more than a few lines' time. (A
// single long wait, a homing or a long move, holds the line where it is:
// the run has one thread, and it is waiting.)
constexpr uint32_t events_per_clock_read = 4;
// Over less time than this, the pace is noise.
constexpr uint64_t pace_window_min_ms = 2000;
// Samples of the pace are at least this far apart, and further apart as
// the run goes on, so that the window covers about half of it.
constexpr uint64_t pace_sample_min_ms = 1000;

/// The last component of a path, for a short name on the status line.
const char* base_name(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}

void append(char*& p, char* end, const char* format, long long a, long long b = 0) {
  if (p >= end) return;
  int n = std::snprintf(p, static_cast<size_t>(end - p), format, a, b);
  if (n < 0) return;
  p += n < end - p ? n : end - p - 1;
}

/// ", waiting 17 s for the reply to z_home u", and after a minute without
/// a byte what may be wrong and how to stop.
void append_wait(char*& p, char* end, const progress_values& v, bool full) {
  if (p >= end) return;
  const long long seconds = static_cast<long long>(v.waited_ms / 1000);
  const bool silent = v.silent_ms >= silence_told_after_ms;
  int n = full ? std::snprintf(p, static_cast<size_t>(end - p),
                               ", waiting %lld s for the reply to %s%s", seconds, v.awaited_command,
                               silent ? ": no answer; the controller may be off or the port "
                                        "wrong (Ctrl-C stops)"
                                      : "")
               : std::snprintf(p, static_cast<size_t>(end - p), " wait %llds %s%s", seconds,
                               v.awaited_command, silent ? ": no answer? Ctrl-C stops" : "");
  if (n > 0) p += n < end - p ? n : end - p - 1;
}

}  // namespace

const progress_terminal& platform_progress_terminal() { return platform_terminal; }

progress_values progress_line::current_values(uint64_t now) {
  progress_values v;
  v.line = state_.line;
  v.lines = state_.lines;
  if (state_.in_include) {
    v.include_name = base_name(state_.include_path);
    v.include_line = state_.include_line;
    v.include_lines = state_.include_lines;
  }
  v.commands = state_.commands;
  v.recoveries = state_.recoveries;
  if (state_.awaited_command[0]) {
    v.awaited_command = state_.awaited_command;
    v.waited_ms = state_.waited_ms;
    v.silent_ms = state_.silent_ms;
  }
  v.elapsed_ms = now - state_.started_ms;
  const double fraction = progress_fraction(v);
  pace_note(state_.pace, now, fraction);
  v.left_ms = pace_left_ms(state_.pace, now, fraction);
  return v;
}

void progress_line::redraw(uint64_t now) {
  char text[512];
  size_t length = format_status_line(current_values(now), terminal_.columns(), text, sizeof text);
  terminal_.draw(text, length);
  state_.drawn = true;
  state_.last_draw_ms = now;
}

/// One event of the run: every few events the clock is read, and the line
/// redrawn when its interval has passed. `now` forces a clock read.
void progress_line::tick(bool now) {
  if (!state_.enabled) return;
  if (!now && ++state_.events < events_per_clock_read) return;
  state_.events = 0;
  uint64_t time = terminal_.now_ms();
  if (time - state_.last_draw_ms >= redraw_interval_ms) redraw(time);
}

/// The line count of an included file, counted once for a run of includes
/// of the same file.
int64_t progress_line::include_line_count(const char* path) {
  if (std::strcmp(path, state_.include_path) != 0 || state_.include_path[0] == '\0') {
    std::snprintf(state_.include_path, sizeof state_.include_path, "%s", path);
    state_.include_path_lines = count_script_lines(path);
  }
  return state_.include_path_lines;
}

void progress_line::clear_line() {
  if (!state_.drawn) return;
  terminal_.erase();
  state_.drawn = false;
}

void progress_line::run_started(const char*) {
  state_ = progress_record{};
  state_.enabled = terminal_.status_line_possible();
  state_.started_ms = state_.last_draw_ms = terminal_.now_ms();
}

void progress_line::line_started(const line_event& e) {
  if (!state_.enabled) return;
  if (e.depth == 1) {
    if (!state_.lines_counted) {
      state_.lines = count_script_lines(e.path);
      state_.lines_counted = true;
    }
    state_.line = e.line_number;
    state_.in_include = false;
  } else if (e.depth == 2) {
    if (e.line_number == 1) state_.include_lines = include_line_count(e.path);
    state_.include_line = e.line_number;
    state_.in_include = true;
  }
  tick();
}

void progress_line::command_issued(const command_event&) {
  end_wait();
  ++state_.commands;
  tick();
}

// The run waits for the machine: past a moment the status line says for
// what and how long, redrawn at each telling.
void progress_line::reply_awaited(const wait_event& e) {
  if (!state_.enabled || e.waited_ms <= wait_shown_after_ms) return;
  std::snprintf(state_.awaited_command, sizeof state_.awaited_command, "%s",
                e.command && *e.command ? e.command : "the command");
  state_.waited_ms = e.waited_ms;
  state_.silent_ms = e.silent_ms;
  redraw(terminal_.now_ms());
}

void progress_line::recovery_started(const char*) {
  end_wait();
  ++state_.recoveries;
  tick(true);
}

void progress_line::run_finished(const run_summary& summary) {
  clear_line();
  state_.enabled = false;
  if (!summary.ok || !estimate_.dry_run()) return;
  char time[32];
  format_hms(estimate_.total_ms(), time, sizeof time);
  char line[96];
  std::snprintf(line, sizeof line, "Estimated machine time: %s (h:mm:ss)\n", time);
  terminal_.write_line(line);
}

int64_t count_script_lines(const char* path) {
  // The interpreter's reader would do, but it copies every byte into a line
  // and checks its block for each; counting a million-line job that way
  // takes most of a second. This follows the reader's rules with one pass
  // over each block: a line ends at a line feed, or at a carriage return,
  // which takes a line feed or a carriage return and line feed right after
  // it into the same line end. A line is one line however long it is.
  std::FILE* file = platform_open_regular_file(path);
  if (!file) return 0;
  constexpr size_t block_size = 65536;
  const auto block = std::make_unique<char[]>(block_size);  // too large for the stack
  int64_t lines = 0;
  bool open_line = false;  // bytes of a line without its end yet
  int after_cr = 0;        // 1: a line just ended at a CR; 2: then another CR came
  size_t got;
  while ((got = std::fread(block.get(), 1, block_size, file)) > 0) {
    for (size_t i = 0; i < got; ++i) {
      const char c = block[i];
      if (after_cr == 1) {
        if (c == '\n') {
          after_cr = 0;
          continue;
        }
        if (c == '\r') {
          after_cr = 2;
          continue;
        }
        after_cr = 0;
      } else if (after_cr == 2) {
        if (c == '\n') {
          after_cr = 0;
          continue;
        }
        ++lines;                  // the second CR was a line end of its own
        if (c == '\r') continue;  // and this one may join it as its second
        after_cr = 0;
      }
      if (c == '\n') {
        ++lines;
        open_line = false;
      } else if (c == '\r') {
        ++lines;
        open_line = false;
        after_cr = 1;
      } else {
        open_line = true;
      }
    }
  }
  std::fclose(file);
  if (after_cr == 2 || open_line) ++lines;
  return lines;
}

double progress_fraction(const progress_values& v) {
  if (v.lines <= 0 || v.line <= 0) return 0.0;
  double done = static_cast<double>(v.line - 1);
  if (v.include_name && v.include_lines > 0 && v.include_line > 0)
    done += static_cast<double>(v.include_line - 1) / static_cast<double>(v.include_lines);
  double fraction = done / static_cast<double>(v.lines);
  return fraction < 0.0 ? 0.0 : fraction > 1.0 ? 1.0 : fraction;
}

void pace_note(progress_pace& pace, uint64_t now, double fraction) {
  if (pace.count == 0) {
    pace.first_time = now;
  } else {
    const int newest = (pace.oldest + pace.count - 1) % progress_pace::slots;
    uint64_t interval = (now - pace.first_time) / (2 * progress_pace::slots);
    if (interval < pace_sample_min_ms) interval = pace_sample_min_ms;
    if (now - pace.times[newest] < interval) return;
  }
  int slot;
  if (pace.count < progress_pace::slots) {
    slot = (pace.oldest + pace.count) % progress_pace::slots;
    ++pace.count;
  } else {
    slot = pace.oldest;
    pace.oldest = (pace.oldest + 1) % progress_pace::slots;
  }
  pace.times[slot] = now;
  pace.fractions[slot] = fraction;
}

double pace_left_ms(const progress_pace& pace, uint64_t now, double fraction) {
  if (pace.count == 0) return -1.0;
  const uint64_t since = now - pace.times[pace.oldest];
  const double done = fraction - pace.fractions[pace.oldest];
  if (since < pace_window_min_ms || !(done > 0.0)) return -1.0;
  return static_cast<double>(since) * (1.0 - fraction) / done;
}

size_t format_status_line(const progress_values& v, int columns, char* out, size_t size) {
  if (size == 0) return 0;
  char elapsed[32], left[40];
  format_hms(static_cast<double>(v.elapsed_ms), elapsed, sizeof elapsed);
  if (v.left_ms >= 0.0)
    format_hms(v.left_ms, left, sizeof left);
  else
    std::snprintf(left, sizeof left, "%s", "-:--:--");

  // The full form, and a shorter one for a narrow terminal.
  for (int form = 0; form < 2; ++form) {
    char* p = out;
    char* end = out + size;
    append(p, end, form == 0 ? "Line %lld of %lld" : "%lld/%lld", v.line, v.lines);
    if (v.include_name && p < end) {
      int n = std::snprintf(p, static_cast<size_t>(end - p), form == 0 ? " (%s line " : " (%s ",
                            v.include_name);
      if (n > 0) p += n < end - p ? n : end - p - 1;
      append(p, end, form == 0 ? "%lld of %lld)" : "%lld/%lld)", v.include_line, v.include_lines);
    }
    if (v.awaited_command) {
      // A long wait says only what the run waits for: nothing else moves.
      append_wait(p, end, v, form == 0);
    } else if (form == 0) {
      append(p, end, v.commands == 1 ? ", %lld command" : ", %lld commands",
             static_cast<long long>(v.commands));
      append(p, end, v.recoveries == 1 ? ", %lld recovery" : ", %lld recoveries",
             static_cast<long long>(v.recoveries));
    } else {
      append(p, end, " %lld cmd %lld rec", static_cast<long long>(v.commands),
             static_cast<long long>(v.recoveries));
    }
    if (p < end && !v.awaited_command) {
      int n = std::snprintf(p, static_cast<size_t>(end - p),
                            form == 0 ? ", %s elapsed, %s left" : " %s -%s", elapsed, left);
      if (n > 0) p += n < end - p ? n : end - p - 1;
    }
    size_t length = static_cast<size_t>(p - out);
    if (columns <= 0 || length < static_cast<size_t>(columns)) return length;
    if (form == 1) {
      // Still too wide: cut it to the terminal's width.
      length = static_cast<size_t>(columns) - 1;
      out[length] = '\0';
      return length;
    }
  }
  return 0;
}
