#include "runner/gcode_road.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/message.h"
#include "common/run_events.h"
#include "gcode/axis_model.h"
#include "gcode/command_composer.h"
#include "link/command_exchange.h"
#include "link/validator_table.h"
#include "platform/platform.h"
#include "runner/line_refusals.h"
#include "runner/script_interpreter.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

namespace {

struct road_record {
  bool machine_order = false;
  travel_limits limits;
  bool check_limits = false;
  // The run has logged or sent a move (homing aside), or in a resumed job
  // tracked one: a stop or tool change from here on would be passed over.
  bool moved = false;
  std::string script;  // as the command line names it, for the resume advice
  run_gate* gate = nullptr;
  bool program_stops_pause = false;
};
road_record road;

/// A trace line on standard output, "gCode: ..." or "CMD: ...". The trace is
/// best effort; it runs for every command, so it avoids formatting.
void trace_line(const char* label, const char* text) {
  if (!trace_printed()) return;
  // One write for the whole line, where it fits the buffer (it always does
  // for a command and for a line of a script).
  char buffer[2304];
  const size_t label_length = std::strlen(label);
  const size_t text_length = std::strlen(text);
  if (label_length + text_length + 1 > sizeof buffer) {
    std::fputs(label, stdout);
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    return;
  }
  std::memcpy(buffer, label, label_length);
  std::memcpy(buffer + label_length, text, text_length);
  buffer[label_length + text_length] = '\n';
  std::fwrite(buffer, 1, label_length + text_length + 1, stdout);
}

/// Tells each axis of the tracked position that stands outside the limits
/// and that the line moved there from `before`; null `before` (a homing):
/// every axis. An axis the line left where it stood was told by the line
/// that took it there, so a job that leaves the limits once is told once,
/// not again at every later line.
void check_travel(const line_place& where, const axis_position* before) {
  if (!road.check_limits) return;
  const axis_model& model = axis_model_state();
  for (int a = 0; a < axis_count; ++a) {
    const double at = model.axes[a].position_in;
    if (before && before->inches[a] == at) continue;
    if (road.limits.has_max[a] && at > road.limits.max[a])
      emit_travel_exceeded(
          {where.path, where.line_number, where.text, a, at, road.limits.max[a], true});
    else if (road.limits.has_min[a] && at < road.limits.min[a])
      emit_travel_exceeded(
          {where.path, where.line_number, where.text, a, at, road.limits.min[a], false});
  }
}

/// The travel of the longest axis: how long the move takes.
int64_t longest_travel(const axis_moves& moves) {
  int64_t longest = 0;
  for (int a = 0; a < axis_count; ++a) {
    const int64_t steps = moves.steps[a] < 0 ? -int64_t{moves.steps[a]} : moves.steps[a];
    if (steps > longest) longest = steps;
  }
  return longest;
}

void tell_motion(const axis_position& from, const axis_moves& moves, const char* command) {
  if (!run_observed()) return;
  motion_event e{};
  for (int a = 0; a < axis_count; ++a) {
    e.from_steps[a] = from.steps[a];
    e.from_in[a] = from.inches[a];
    e.to_steps[a] =
        static_cast<int32_t>(int64_t{from.steps[a]} + int64_t{moves.direction[a]} * moves.steps[a]);
    e.to_in[a] = moves.target[a];
  }
  e.longest_steps = command ? longest_travel(moves) : 0;
  e.rapid = last_motion_rapid();
  e.homed = homing_state().homed;
  e.command = command;
  emit_motion_composed(e);
}

/// The refusal of a line `classify_gcode_line` did not translate, with the
/// advice to convert the job first where millprep converts what it asks.
bool refuse_reading(translation_result result, const line_place& where, char* line,
                    const line_words& words) {
  if (millprep_converts(line, result, words)) return refuse_convertible(refusal_of(result), where);
  return refuse(refusal_of(result), where);
}

/// What the run knows before a line: whether it has moved, whether the
/// line's file has read its program end.
line_context context_of_line() { return {road.moved, program_ended_in_file()}; }

/// After a line that translated: its program end (M2/M30) is noted.
void note_line_words(const line_words& words) {
  if (words.program_end) note_program_end_in_file();
}

bool translated(translation_result result) {
  return result == translation_result::command || result == translation_result::no_op;
}

/// Composes the line's command from its targets and the record, which
/// stands at `from`, and tells the motion; `travel` receives the longest
/// axis's steps.
translation_result compose(const line_reading& reading, const axis_position& from,
                           const char*& command, int64_t& travel) {
  axis_moves moves{};
  translation_result result = compose_machine_command(reading.targets, command, &moves);
  if (result == translation_result::command) road.moved = true;
  if (translated(result)) {
    tell_motion(from, moves, result == translation_result::command ? command : nullptr);
    travel = longest_travel(moves);
  }
  return result;
}

}  // namespace

void configure_gcode_road(const run_options& options) {
  road.machine_order = options.machine_order;
  road.limits = options.limits;
  road.check_limits = options.limits.any();
  road.script = options.script;
  road.gate = options.gate;
  road.program_stops_pause = options.program_stops_pause;
}

void reset_gcode_road() { road = road_record{}; }

namespace {

/// After a failed recovery (a vanished adapter, a machine that keeps
/// failing), whose messages name no line: where to take the job up again.
/// The re-run inside a recovery (line -1) leaves it to the line that failed.
void advise_restart(const line_place& where) {
  if (where.line_number <= 0) return;
  char note[1200];
  if (road.script == where.path)
    format_text(note, sizeof note, "Resume with: millresume %s %d", road.script.c_str(),
                where.line_number);
  else
    format_text(note, sizeof note, "Resume with: millresume %s %s:%d", road.script.c_str(),
                where.path, where.line_number);
  show_note(note);
}

/// The homing a machine (or the check) takes before the line's first
/// command. False when the line stops here: a stop request, or a homing that
/// failed (told as the line's refusal, whose result goes to `result`).
bool home_before_command(const line_place& where, port_handle handle, bool& result) {
  result = false;
  // A stop during the line's dwell, or during the homing: nothing more is
  // composed or sent.
  if (platform_stop_requested()) return false;
  if (!ensure_homed(handle)) {
    // A machine must not move unhomed: the line stops here. A rejected home
    // reply shows no message of its own, so say which line it was.
    if (!platform_stop_requested()) result = refuse(refusal::homing_failed, where);
    return false;
  }
  if (platform_stop_requested()) return false;
  check_travel(where, nullptr);
  return true;
}

/// Sends the line's composed command; a failed one is recovered from
/// `start`, where the line began.
bool send_line_command(char* line, const line_reading& reading, const char* command, int64_t travel,
                       const axis_position& start, const line_place& where, port_handle& handle) {
  trace_line("gCode: ", line);
  const match_pattern* response = find_validator(command);
  if (!response) return refuse(refusal::unknown_command, where);
  trace_line("CMD: ", command);
  if (run_observed()) {
    const int32_t reply_length = static_cast<int32_t>(shortest_reply_length(*response));
    emit_command_issued({command, command_kind::motion, travel, reply_length, handle != nullptr});
  }
  if (send_and_validate(command, *response, handle)) {
    // After a homing the record stands at home; tracking the line again
    // brings it to the line's target. A dry run does not, by design.
    if (handle) apply_axis_targets(reading.targets);
    return true;
  }
  // A stop request ends the run where it stands: no recovery is started.
  // The file that runs the line says so (a re-run after a recovery has only
  // the pseudo path).
  if (platform_stop_requested()) return false;
  if (recover_failed_line(line, start, handle)) return true;
  advise_restart(where);
  return false;
}

/// A program stop the run carries out as a pause: M0 or M1 on a line
/// without a move, where the run's option asks for it. A tool change is no
/// pause: continuing would cut with the old tool.
bool pauses_at(translation_result result, const line_words& words) {
  return result == translation_result::program_stop && road.program_stops_pause &&
         !words.tool_change && !words.axis_word;
}

/// The program stop at `where`: the run holds before its next line. Without
/// a gate (the check) the stop is only accepted.
void pause_at_program_stop(const line_place& where) {
  if (!road.gate) return;
  char note[1200];
  format_text(note, sizeof note, "Program stop at %s:%d", where.path, where.line_number);
  show_note(note);
  road.gate->program_stop(where);
}

}  // namespace

bool run_gcode_line(const line_place& where, char* line, port_handle& handle) {
  // The operator's hold comes between lines, never inside one: a recovery's
  // re-run (line -1) belongs to the line it recovers.
  if (road.gate && where.line_number > 0 && !road.gate->hold_before_line(where)) return false;
  const char* command = nullptr;
  int64_t travel = 0;
  line_reading reading;
  translation_result result = classify_gcode_line(line, reading, true, context_of_line());
  if (pauses_at(result, reading.words)) {
    pause_at_program_stop(where);
    return true;
  }
  if (result == translation_result::no_op) command = no_op_command;
  // Where the line starts: a recovery drives the machine back here and
  // re-runs the line along its own path.
  axis_position start{};
  bool homed_here = false;
  if ((handle || road.machine_order) && !homing_state().homed) {
    // With a machine attached the line that triggers the homing is composed
    // only after it (and after the scale query), from the home position and
    // with the machine's own scales. A line that does not translate still
    // fails before anything is sent.
    if (translated(result)) {
      bool stopped_result = false;
      if (!home_before_command(where, handle, stopped_result)) return stopped_result;
      start = tracked_position();
      if (result == translation_result::command) result = compose(reading, start, command, travel);
    }
  } else {
    start = tracked_position();
    if (result == translation_result::command) result = compose(reading, start, command, travel);
    if (platform_stop_requested()) return false;  // a stop during the line's dwell
    // A dry run homes after the line's command: the record then stands at
    // home, every axis of it reached by this line.
    if (translated(result) && !homing_state().homed) {
      ensure_homed(handle);
      homed_here = true;
    }
  }

  if (!translated(result)) return refuse_reading(result, where, line, reading.words);
  note_line_words(reading.words);
  check_travel(where, homed_here ? nullptr : &start);
  if (result == translation_result::no_op) return true;
  return send_line_command(line, reading, command, travel, start, where, handle);
}

bool track_gcode_line_quietly(const line_place& where, char* line, port_handle handle) {
  line_reading reading;
  translation_result result = classify_gcode_line(line, reading, false, context_of_line());
  // A program stop before the resumed line holds nothing.
  if (pauses_at(result, reading.words)) return true;
  if (!translated(result)) return refuse_reading(result, where, line, reading.words);
  // Homing and tracking in the order the run would take them: with a
  // machine the homing first, in a dry part the line first.
  const bool machine = handle || road.machine_order;
  if (machine && !homing_state().homed) home_record_only();
  if (result == translation_result::command) {
    axis_moves moves{};
    if (!compute_axis_moves(reading.targets, moves))
      return refuse(refusal::target_out_of_range, where);
    apply_moves(moves);
    // A move the run would have logged counts here too: a stop after it
    // fails in the resumed job as in the whole one.
    for (int a = 0; a < axis_count; ++a)
      if (moves.steps[a] != 0) road.moved = true;
  }
  note_line_words(reading.words);
  if (!machine && !homing_state().homed) home_record_only();
  return true;
}
