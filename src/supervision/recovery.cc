#include "supervision/recovery.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/message.h"
#include "common/run_events.h"
#include "gcode/axis_model.h"
#include "gcode/axis_words.h"
#include "gcode/translation_log.h"
#include "link/command_exchange.h"
#include "link/port_opening.h"
#include "supervision/homing.h"

namespace {

recovery_record recovery;
// The wiring to the runner, not run state: installed once, kept by resets.
recovery_callbacks runner_side;

}  // namespace

void install_recovery_callbacks(const recovery_callbacks& callbacks) { runner_side = callbacks; }

recovery_record& recovery_state() { return recovery; }
void reset_recovery() { recovery = recovery_record{}; }

void report_reposition_failure(const char* failed_line, const char* reposition_command) {
  message_buffers& m = resume_message();
  format_text(m.caption, sizeof m.caption, "%s",
              "CNC Machine Resume-after-error: Error Resuming Operation!");
  format_text(m.text, sizeof m.text,
              "While trying to resume operations after failing to execute command \"%s\", The "
              "response to the repositioning command \"%s\" indicates that the command "
              "encountered an error while being executed.",
              failed_line, reposition_command);
  show_buffers(m);
}

void report_resume_failure(const char* failed_line) {
  message_buffers& m = resume_message();
  format_text(m.caption, sizeof m.caption, "%s", "CNC Machine: Error Resuming Operation!");
  format_text(m.text, sizeof m.text,
              "The response to command \"%s\" indicated that the command encountered an error "
              "while being executed.",
              failed_line);
  show_buffers(m);
}

bool recover_failed_line(const char* failed_line, const axis_position& start, port_handle& handle) {
  // NOTE: one line may be recovered at most recovery_limit times, each inside
  // the re-run of the one before; a controller that keeps failing must not
  // keep the run in recovery for ever.
  if (recovery.depth >= recovery_limit) {
    report_resume_failure(failed_line);
    return false;
  }
  emit_recovery_started(failed_line);
  const port_memory_record& memory = port_memory();
  if (memory.device_path[0] != '\0' && handle) {
    port_handle closed = handle;
    if (runner_side.port_closing) runner_side.port_closing(closed);
    close_port(closed);
    handle = nullptr;
    if (!reopen_remembered_port(&handle)) {
      emit_recovery_finished(false);
      return false;
    }
    if (runner_side.port_reopened) runner_side.port_reopened(handle);
    if (memory.lpc2000) pulse_lpc2000_reset(handle);
    drain_input(handle);
  }
  ++recovery.depth;
  bool ok = resume_after_error(failed_line, start, handle);
  --recovery.depth;
  emit_recovery_finished(ok);
  return ok;
}

bool reposition_axes(const axis_position& target, port_handle handle, const char*& refused) {
  auto& command = recovery.reposition_command;
  refused = nullptr;
  axis_model& model = axis_model_state();
  for (int a = 0; a < axis_count; ++a) {
    axis_state& axis = model.axes[a];
    if (axis.position_steps != target.steps[a]) {
      const int64_t difference = int64_t{target.steps[a]} - axis.position_steps;
      const char letter = difference > 0 ? axis_table[a].positive : axis_table[a].negative;
      const long long magnitude = difference > 0 ? difference : -difference;
      std::snprintf(command, sizeof command, "%s %c %lld", axis_table[a].move_command, letter,
                    magnitude);
      emit_command_issued({command, command_kind::reposition, magnitude, -1, handle != nullptr});
      if (!send_and_validate(command, reposition_reply_pattern, handle)) {
        refused = command;
        return false;
      }
      log_command(command);
    }
    axis.position_in = target.inches[a];
    axis.position_steps = target.steps[a];
  }
  return true;
}

bool resume_after_error(const char* failed_line, const axis_position& start, port_handle& handle) {
  set_homed(false);
  // With a machine attached a failed homing ends the recovery: moving an
  // unhomed machine back by its old record would drive it blind. The travel
  // before the failure stays in the envelope.
  if (!ensure_homed(handle, true) && handle) {
    report_resume_failure(failed_line);
    return false;
  }

  // NOTE: the machine goes back to where the failed line started, not to its
  // target: the re-run then cuts the line along its own path. Driving to the
  // target axis by axis would leave the segment uncut and bring Z down into
  // uncut material at its end.
  const char* refused = nullptr;
  if (!reposition_axes(start, handle, refused)) {
    report_reposition_failure(failed_line, refused);
    return false;
  }

  ++recovery.resume_count;

  // The re-run may normalise its text in place: give it a copy, and keep the
  // line as it failed for the report.
  size_t length = std::strlen(failed_line);
  char* rerun = static_cast<char*>(std::malloc(length + 1));
  if (!rerun) {
    show_out_of_memory();
    return false;
  }
  std::memcpy(rerun, failed_line, length + 1);
  bool ok = runner_side.rerun_line && runner_side.rerun_line(rerun, handle);
  std::free(rerun);
  if (ok) return true;
  report_resume_failure(failed_line);
  return false;
}
