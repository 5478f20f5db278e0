#include "runner/script_interpreter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common/decimal.h"
#include "common/message.h"
#include "gcode/axis_model.h"
#include "gcode/command_composer.h"
#include "link/command_exchange.h"
#include "link/port_opening.h"
#include "link/validator_table.h"
#include "platform/platform.h"
#include "runner/run_events.h"
#include "runner/script_reader.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

namespace {

/// The files being run, outermost first: each one's port_handle variable,
/// and whether a recovery took its handle away to be handed back.
struct interpreter_record {
  port_handle* handles[max_include_depth + 1] = {};
  bool awaiting_handle[max_include_depth + 1] = {};
  int depth = 0;
  bool stop_reported = false;
};
interpreter_record interpreter;

constexpr const char* comment_prefixes[] = {"//", "'", "#", "REM"};
constexpr int link_baud = 9600;

/// A trace line on standard output, "gCode: ..." or "CMD: ...". The trace is
/// best effort; it runs for every command, so it avoids formatting.
void trace_line(const char* label, const char* text) {
  std::fputs(label, stdout);
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_trailing_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/// Whether `text` begins with `prefix`, letter case ignored; returns the
/// text after it or null.
char* after_prefix(char* text, const char* prefix) {
  char* p = text;
  for (; *prefix; ++p, ++prefix) {
    char a = *p, b = *prefix;
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b || a == '\0') return nullptr;
  }
  return p;
}

void report_line(const char* caption_format, const char* text_format, const char* path,
                 int line_number, const char* line) {
  message_buffers& m = shared_message();
  format_text(m.caption, sizeof m.caption, caption_format, path, line_number);
  format_text(m.text, sizeof m.text, text_format, path, line_number, line);
  show_buffers(m);
}

/// True once the user asked the run to stop. The first file to see it says
/// so, naming its line (0: before its first line); the files that include it
/// stay quiet, so the message comes once however deep the includes are.
bool stop_requested(const char* path, int line_number) {
  if (!platform_stop_requested()) return false;
  if (!interpreter.stop_reported) {
    interpreter.stop_reported = true;
    message_buffers& m = shared_message();
    format_text(m.caption, sizeof m.caption, "%s", "Run stopped");
    if (line_number > 0)
      format_text(m.text, sizeof m.text, "The run was stopped by request @ %s:%d.", path,
                  line_number);
    else
      format_text(m.text, sizeof m.text,
                  "The run was stopped by request before the first line of %s.", path);
    show_stop_buffers(m);
  }
  return true;
}

bool is_non_text(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f;
}

/// Where the first byte that is not text stands in a piece from the reader:
/// a zero byte or a control character other than tab, carriage return and
/// line feed. `length` when there is none.
size_t find_non_text(const char* piece, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (is_non_text(static_cast<unsigned char>(piece[i]))) return i;
  return length;
}

/// A line that holds a byte that is not text fails. A zero byte would end
/// the line for everything that reads it as text and drop what follows (an
/// operand, say) without a word; the other control characters have no place
/// in the language either. The message shows the line with each such byte
/// as "?".
void report_non_text(const char* path, int line_number, const char* piece, size_t length,
                     size_t position) {
  char line[2048];
  size_t n = 0;
  for (size_t i = 0; i < length && n + 1 < sizeof line; ++i) {
    const char c = piece[i];
    if (c == '\r' || c == '\n') break;  // the line end, which ends the piece
    line[n++] = is_non_text(static_cast<unsigned char>(c)) ? '?' : c;
  }
  line[n] = '\0';
  const unsigned byte = static_cast<unsigned char>(piece[position]);
  message_buffers& m = shared_message();
  format_text(m.caption, sizeof m.caption, "Invalid character @ %s:%d", path, line_number);
  format_text(m.text, sizeof m.text,
              "Invalid character @ %s:%d:\r    %s\rByte 0x%02X at column %zu is not text; a script "
              "is plain text (ASCII or UTF-8).%s",
              path, line_number, line, byte, position + 1,
              byte == 0 ? " A file saved as UTF-16 holds a zero byte in every other column." : "");
  show_buffers(m);
}

bool held_by_including_file(port_handle handle) {
  for (int i = 0; i + 1 < interpreter.depth; ++i)
    if (*interpreter.handles[i] == handle) return true;
  return false;
}

bool run_include(const char* path, int line_number, const char* line, const char* included,
                 port_handle handle) {
  if (interpreter.depth > max_include_depth) {
    report_line("Include too deep @ %s:%d",
                "Includes are nested more than 32 deep @ %s:%d (does a file include itself?):"
                "\r    %s",
                path, line_number, line);
    return false;
  }
  return run_script_file(included, handle);
}

bool set_depth_keyword(const char* path, int line_number, const char* line, const char* rest) {
  double depth = read_real(rest);
  int32_t steps = 0;
  if (!std::isfinite(depth) || !inches_to_steps(depth, 'z', steps)) {
    report_line("Depth out of range @ %s:%d",
                "Work-surface depth out of range @ %s:%d:\r    %s\r"
                "Its step count does not fit the machine's step arithmetic.",
                path, line_number, line);
    return false;
  }
  set_work_surface_depth(depth);
  return true;
}

void set_pauses_keyword(const char* rest) {
  const char* end = nullptr;
  uint32_t a = read_unsigned(rest, &end);
  uint32_t b = a, c = a;
  if (*end == ' ') {
    b = read_unsigned(end, &end);
    c = b;
    if (*end == ' ') c = read_unsigned(end, &end);
  }
  direction_change_pauses(a, b, c);
}

/// The G-code road of one line: translate, home, look up, send.
bool run_gcode_line(const char* path, int line_number, char* line_text, char* line,
                    port_handle& handle) {
  const char* command = nullptr;
  translation_result result;
  // Where the line starts: a recovery drives the machine back here and
  // re-runs the line along its own path.
  axis_position start{};
  if (handle && !homing_state().homed) {
    // With a machine attached the line that triggers the homing is composed
    // only after it (and after the scale query), from the home position and
    // with the machine's own scales. A line that does not translate still
    // fails before anything is sent.
    const char* operands = nullptr;
    result = classify_gcode_line(line, operands);
    if (result == translation_result::command || result == translation_result::no_op) {
      // A stop during the line's dwell, or during the homing: nothing more
      // is composed or sent.
      if (platform_stop_requested()) return false;
      if (!ensure_homed(handle)) {
        // A machine must not move unhomed: the line stops here. A rejected
        // home reply shows no message of its own, so say which line it was.
        if (!platform_stop_requested())
          report_line("Homing failed @ %s:%d",
                      "The machine could not be homed before the command of @ %s:%d:\r    %s\r"
                      "Nothing more is sent. The controller's reply is in the trace.",
                      path, line_number, line_text);
        return false;
      }
      if (platform_stop_requested()) return false;
      command = no_op_command;
      start = tracked_position();
      if (result == translation_result::command)
        result = compose_machine_command(operands, command);
    }
  } else {
    const char* operands = nullptr;
    result = classify_gcode_line(line, operands);
    if (result == translation_result::no_op) command = no_op_command;
    start = tracked_position();
    if (result == translation_result::command) result = compose_machine_command(operands, command);
    if (platform_stop_requested()) return false;  // a stop during the line's dwell
    if (result == translation_result::command || result == translation_result::no_op)
      ensure_homed(handle);
  }

  switch (result) {
    case translation_result::command: break;
    case translation_result::no_op: return true;
    case translation_result::unknown_gcode:
      report_line("Unknown GCode @ %s:%d", "Invalid GCode @ %s:%d:\r    %s", path, line_number,
                  line_text);
      return false;
    case translation_result::unsupported_mode:
      report_line("Unsupported GCode @ %s:%d",
                  "Unsupported GCode @ %s:%d:\r    %s\r"
                  "millrun takes inches (G20) and absolute coordinates (G90) only.",
                  path, line_number, line_text);
      return false;
    case translation_result::lost_operands:
      report_line("Unsupported GCode @ %s:%d",
                  "Unsupported GCode @ %s:%d:\r    %s\r"
                  "millrun reads X, Y and Z in that order, each at most one blank after the last "
                  "and followed directly by a plain number (1.5, -0.25); the rest of this line "
                  "would be lost.",
                  path, line_number, line_text);
      return false;
    case translation_result::out_of_range:
      report_line("Target out of range @ %s:%d",
                  "Target out of range @ %s:%d:\r    %s\r"
                  "Its step count does not fit the machine's step arithmetic.",
                  path, line_number, line_text);
      return false;
  }

  trace_line("gCode: ", line);
  const match_pattern* response = find_validator(command);
  if (!response) {
    report_line("Unknown command @ %s:%d", "Invalid command @ %s:%d:\r    %s", path, line_number,
                line_text);
    return false;
  }
  trace_line("CMD: ", command);
  if (auto hook = run_event_hooks().command_issued) hook(command);
  if (send_and_validate(command, *response, handle)) {
    // After a homing the record stands at home; tracking the line again
    // brings it to the line's target. A dry run does not, by design.
    if (handle) track_gcode_line(line);
    return true;
  }
  // A stop request ends the run where it stands: no recovery is started.
  // The file that runs the line says so (a re-run after a recovery has only
  // the pseudo path).
  if (platform_stop_requested()) return false;
  return recover_failed_line(line, start, handle);
}

}  // namespace

void reset_script_interpreter() { interpreter = interpreter_record{}; }

void forget_handle_in_including_files(port_handle closed) {
  for (int i = 0; i < interpreter.depth; ++i) {
    if (*interpreter.handles[i] == closed) {
      *interpreter.handles[i] = nullptr;
      interpreter.awaiting_handle[i] = true;
    }
  }
}

void hand_back_to_including_files(port_handle reopened) {
  for (int i = 0; i < interpreter.depth; ++i) {
    if (interpreter.awaiting_handle[i]) {
      *interpreter.handles[i] = reopened;
      interpreter.awaiting_handle[i] = false;
    }
  }
}

bool run_script_file(const char* path, port_handle initial) {
  const bool owns_port = initial == nullptr;
  // The reader is large; one per nesting level lives on the heap.
  std::unique_ptr<script_reader> reader(new (std::nothrow) script_reader);
  if (!reader) {
    show_message("Fatal Error!", "Out of RAM Memory!");
    return false;
  }
  if (!open_script_reader(*reader, path)) {
    stop_requested(path, 0);  // the opening waited (a FIFO) and was stopped
    return false;
  }

  port_handle handle = initial;
  const int frame = interpreter.depth++;
  interpreter.handles[frame] = &handle;
  interpreter.awaiting_handle[frame] = false;

  char buffer[2048];
  int line_number = 0;
  bool ok = true;
  size_t length = 0;
  while ((length = read_script_line(*reader, buffer, sizeof buffer)) > 0) {
    ++line_number;
    if (auto hook = run_event_hooks().line_started) hook(path, interpreter.depth, line_number);
    if (stop_requested(path, line_number)) {
      ok = false;
      break;
    }
    char* text = buffer;
    // A byte-order mark, as some editors put at the start of a UTF-8 file,
    // is not part of the first line.
    if (line_number == 1 && length >= 3 && std::memcmp(buffer, "\xEF\xBB\xBF", 3) == 0) {
      text += 3;
      length -= 3;
    }
    if (size_t bad = find_non_text(text, length); bad < length) {
      report_non_text(path, line_number, text, length, bad);
      ok = false;
      break;
    }
    const bool line_ok = process_script_line(path, line_number, text, handle);
    // A stop during the line (a dwell, a wait for the machine) is told here,
    // with the line it cut short.
    if (stop_requested(path, line_number) || !line_ok) {
      ok = false;
      break;
    }
  }
  // A file that cannot be read (a directory, an I/O error) did not run to
  // its end; nor did one whose reading a stop request cut short.
  if (reader->failed) ok = false;
  if (stop_requested(path, line_number)) ok = false;

  interpreter.handles[frame] = nullptr;
  interpreter.awaiting_handle[frame] = false;
  --interpreter.depth;
  // The port this file opened is released at its end, and also when a line
  // failed: nothing after a failure uses it.
  if (owns_port && handle) close_port(handle);
  close_script_reader(*reader);
  return ok;
}

bool process_script_line(const char* path, int line_number, char* line_text, port_handle& handle) {
  char* line = line_text;
  while (is_blank(*line)) ++line;
  size_t length = std::strlen(line);
  while (length > 0 && is_trailing_space(line[length - 1])) line[--length] = '\0';
  if (length == 0) return true;

  // Every comment prefix and keyword begins with one of these letters; a
  // G-code line, the bulk of a job, goes straight to translation.
  switch (line[0]) {
    case '/': case '\'': case '#': case 'R': case 'r': case 'I': case 'i':
    case 'O': case 'o': case 'S': case 's':
      break;
    default:
      return run_gcode_line(path, line_number, line_text, line, handle);
  }

  for (const char* prefix : comment_prefixes)
    if (after_prefix(line, prefix)) return true;

  if (char* rest = after_prefix(line, "include "))
    return run_include(path, line_number, line_text, rest, handle);

  if (char* rest = after_prefix(line, "open comm ")) {
    bool lpc2000 = false;
    if (char* name = after_prefix(rest, "LPC2000 ")) {
      lpc2000 = true;
      rest = name;
    }
    const port_handle previous = handle;
    if (!open_comm_port(rest, lpc2000, link_baud, &handle)) return false;
    // The port this file held is let go once the new one is open, so that a
    // recovery can open it again; one still held by an including file stays.
    if (previous && !held_by_including_file(previous)) close_port(previous);
    // Lines before the link was opened homed only the record, not the
    // machine: home the machine before its first command.
    set_homed(false);
    return true;
  }

  if (char* rest = after_prefix(line, "set_work_surface_depth_below_top_of_z "))
    return set_depth_keyword(path, line_number, line_text, rest);

  if (char* rest = after_prefix(line, "set_chg_dirs_sleep_ms ")) {
    set_pauses_keyword(rest);
    return true;
  }

  return run_gcode_line(path, line_number, line_text, line, handle);
}
