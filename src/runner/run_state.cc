#include "runner/run_state.h"

#include "common/message.h"
#include "common/run_events.h"
#include "gcode/axis_model.h"
#include "gcode/command_composer.h"
#include "link/command_exchange.h"
#include "link/port_opening.h"
#include "link/validator_table.h"
#include "runner/gcode_road.h"
#include "runner/line_refusals.h"
#include "runner/script_interpreter.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

namespace {

/// The recovery's re-run of a failed line: a line of its own, named
/// "RESUME_OPS" in messages.
bool rerun_failed_line(char* line_text, port_handle& handle) {
  return process_script_line("RESUME_OPS", -1, line_text, handle);
}

}  // namespace

void release_run_hooks() {
  reset_run_events();
  set_device_opener(nullptr);
  set_before_message_hook(nullptr);
  set_message_shown_hook(nullptr);
}

void reset_run_state() {
  release_run_hooks();
  reset_axis_model();
  reset_command_composer();
  close_translation_log();
  free_validator_table();
  close_all_ports();
  reset_port_memory();
  reset_command_exchange();
  reset_homing();
  reset_recovery();
  install_recovery_callbacks(
      {rerun_failed_line, forget_handle_in_including_files, hand_back_to_including_files});
  reset_script_interpreter();
  reset_gcode_road();
  reset_refusals();
}
