#include "runner/script_interpreter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common/decimal.h"
#include "common/machine_defaults.h"
#include "common/message.h"
#include "gcode/axis_model.h"
#include "gcode/command_composer.h"
#include "link/command_exchange.h"
#include "link/port_opening.h"
#include "link/validator_table.h"
#include "platform/platform.h"
#include "common/run_events.h"
#include "runner/gcode_road.h"
#include "runner/line_refusals.h"
#include "runner/restart.h"
#include "runner/script_reader.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

namespace {

/// The files being run, outermost first: each one's port_handle variable,
/// and whether a recovery took its handle away to be handed back.
struct interpreter_record {
  port_handle* handles[max_include_depth + 1] = {};
  const char* paths[max_include_depth + 1] = {};  // each file as its include line names it
  bool awaiting_handle[max_include_depth + 1] = {};
  bool program_ended[max_include_depth + 1] = {};  // the file read its M2/M30
  int depth = 0;
  bool stop_reported = false;
  // A restarted job: the lines before `start_at` are tracked quietly.
  restart_point start_at;
  bool quiet = false;
};
interpreter_record interpreter;

constexpr const char* comment_prefixes[] = {"//", "'", "#", "REM"};
constexpr int link_baud = machine_baud;

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
bool refuse_non_text(const char* path, int line_number, const char* piece, size_t length,
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
  char detail[64];
  std::snprintf(detail, sizeof detail, "0x%02X at column %zu", byte, position + 1);
  return refuse(byte == 0 ? refusal::invalid_zero_byte : refusal::invalid_character,
                {path, line_number, line}, detail);
}

/// The G-code road, or before a resumed job's line the quiet one.
bool gcode_line(const line_place& where, char* line, port_handle& handle) {
  if (interpreter.quiet) return track_gcode_line_quietly(where, line, handle);
  return run_gcode_line(where, line, handle);
}

bool at_restart_line(const char* path, int line_number) {
  if (line_number != interpreter.start_at.line) return false;
  if (interpreter.start_at.file.empty()) return interpreter.depth == 1;
  return interpreter.start_at.file == path;
}

bool can_open_script(const char* path) {
  std::FILE* file = platform_open_regular_file(path);
  if (!file) return false;
  std::fclose(file);
  return true;
}

bool held_by_including_file(port_handle handle) {
  for (int i = 0; i + 1 < interpreter.depth; ++i)
    if (*interpreter.handles[i] == handle) return true;
  return false;
}

/// Whether the file named `path` is being run, by that name, by this file
/// or a file that includes it.
bool being_run(const char* path) {
  for (int i = 0; i < interpreter.depth; ++i)
    if (interpreter.paths[i] && std::strcmp(interpreter.paths[i], path) == 0) return true;
  return false;
}

bool run_include(const line_place& where, const char* included, port_handle handle) {
  if (interpreter.depth > max_include_depth) return refuse(refusal::include_too_deep, where);
  // NOTE: a check that passes refused lines over would, at the 33rd level of
  // a file that includes itself, refuse only that one include and go on
  // with the rest of every level: a file that includes itself twice would
  // be run 2^32 times. It refuses the include that closes the circle
  // instead, where a run stops at the first refusal anyway.
  if (passing_refused_lines() && being_run(included))
    return refuse(refusal::include_of_itself, where);
  // A missing include file stops the run without a message; a check that
  // passes refused lines over says which file it could not read.
  if (passing_refused_lines() && !can_open_script(included))
    return refuse(refusal::include_missing, where);
  return run_script_file(included, handle);
}

bool set_depth_keyword(const line_place& where, const char* rest) {
  // NOTE: once the machine (or, without one, the record) is homed, Z stands
  // at the old depth; a new depth would part the machine's idea of Z from
  // the job's until the next homing. The depth belongs before the first
  // G-code line. A recovery homes within its line, so this holds after it.
  if (homing_state().homed) return refuse(refusal::depth_after_homing, where);
  double depth = read_real(rest);
  int32_t steps = 0;
  if (!std::isfinite(depth) || !inches_to_steps(depth, 'z', steps))
    return refuse(refusal::depth_out_of_range, where);
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

}  // namespace

void reset_script_interpreter() { interpreter = interpreter_record{}; }

void configure_script_interpreter(const run_options& options) {
  interpreter.start_at = options.start_at;
  interpreter.quiet = options.start_at.line > 0;
}

bool restart_line_pending() { return interpreter.quiet; }

bool program_ended_in_file() {
  return interpreter.depth > 0 && interpreter.program_ended[interpreter.depth - 1];
}

void note_program_end_in_file() {
  if (interpreter.depth > 0) interpreter.program_ended[interpreter.depth - 1] = true;
}

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

namespace {

/// Whether a line is a whole-line comment: one of the comment prefixes
/// after any blanks and tabs.
bool is_comment_line(char* text) {
  while (is_blank(*text)) ++text;
  for (const char* prefix : comment_prefixes)
    if (after_prefix(text, prefix)) return true;
  return false;
}

/// One line from the reader, numbered `line_number`: told, checked for
/// bytes that are not text, the resumed job's line approached, interpreted.
/// `cut`: the line went on past the buffer (its rest is skipped already);
/// only a comment line may. False stops the file.
bool run_piece(const char* path, int line_number, char* buffer, size_t length, bool cut,
               port_handle& handle) {
  emit_line_started({path, interpreter.depth, line_number, buffer});
  if (stop_requested(path, line_number)) return false;
  char* text = buffer;
  // A byte-order mark, as some editors put at the start of a UTF-8 file,
  // is not part of the first line.
  if (line_number == 1 && length >= 3 && std::memcmp(buffer, "\xEF\xBB\xBF", 3) == 0) {
    text += 3;
    length -= 3;
  }
  if (size_t bad = find_non_text(text, length); bad < length)
    return refuse_non_text(path, line_number, text, length, bad);
  if (interpreter.quiet && at_restart_line(path, line_number)) {
    interpreter.quiet = false;
    // The line as messages show it: without its line end.
    char shown[2048];
    std::snprintf(shown, sizeof shown, "%s", text);
    for (size_t n = std::strlen(shown); n > 0 && is_trailing_space(shown[n - 1]); --n)
      shown[n - 1] = '\0';
    if (!approach_restart_line({path, line_number, shown}, handle)) return false;
  }
  // A line longer than the reader's buffer is refused, shown by its first
  // 2047 characters: run as it stands, its tail would be cut off, or run as
  // a line of its own ("G01 X1 (...Y5)" would drive Y).
  const bool line_ok = cut && !is_comment_line(text)
                           ? refuse(refusal::line_too_long, {path, line_number, text})
                           : process_script_line(path, line_number, text, handle);
  emit_line_finished({path, interpreter.depth, line_number, text}, line_ok);
  // A stop during the line (a dwell, a wait for the machine) is told here,
  // with the line it cut short.
  return !stop_requested(path, line_number) && line_ok;
}

}  // namespace

bool run_script_file(const char* path, port_handle initial) {
  const bool owns_port = initial == nullptr;
  // The reader is large; one per nesting level lives on the heap.
  std::unique_ptr<script_reader> reader(new (std::nothrow) script_reader);
  if (!reader) {
    show_out_of_memory();
    return false;
  }
  if (!open_script_reader(*reader, path)) {
    stop_requested(path, 0);
    return false;
  }

  port_handle handle = initial;
  const int frame = interpreter.depth++;
  interpreter.handles[frame] = &handle;
  interpreter.paths[frame] = path;
  interpreter.awaiting_handle[frame] = false;
  interpreter.program_ended[frame] = false;
  emit_file_started(path, frame + 1);

  char buffer[2048];
  int line_number = 0;
  bool ok = true;
  size_t length = 0;
  while (ok && (length = read_script_line(*reader, buffer, sizeof buffer)) > 0) {
    // A physical line is one line, however long: the rest of a long one is
    // never run as a line of its own.
    const bool cut = reader->line_cut;
    if (cut) skip_rest_of_script_line(*reader);
    ok = run_piece(path, ++line_number, buffer, length, cut, handle);
  }
  // A file that cannot be read (a directory, an I/O error) did not run to
  // its end; nor did one whose reading a stop request cut short.
  if (reader->failed) ok = false;
  if (stop_requested(path, line_number)) ok = false;

  interpreter.handles[frame] = nullptr;
  interpreter.paths[frame] = nullptr;
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
  const line_place where{path, line_number, line_text};

  // Every comment prefix and keyword begins with one of these letters; a
  // G-code line, the bulk of a job, goes straight to translation.
  switch (line[0]) {
    case '/':
    case '\'':
    case '#':
    case 'R':
    case 'r':
    case 'I':
    case 'i':
    case 'O':
    case 'o':
    case 'S':
    case 's':
      break;
    default:
      return gcode_line(where, line, handle);
  }

  if (is_comment_line(line)) return true;

  if (char* rest = after_prefix(line, "include ")) return run_include(where, rest, handle);

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
    return set_depth_keyword(where, rest);

  if (char* rest = after_prefix(line, "set_chg_dirs_sleep_ms ")) {
    set_pauses_keyword(rest);
    return true;
  }

  return gcode_line(where, line, handle);
}
