#include "runner/run_program.h"

#include <cstring>

#include "common/message.h"
#include "gcode/axis_model.h"
#include "gcode/translation_log.h"
#include "link/port_opening.h"
#include "link/validator_table.h"
#include "runner/gcode_road.h"
#include "runner/line_refusals.h"
#include "runner/restart.h"
#include "runner/run_state.h"
#include "runner/script_interpreter.h"
#include "supervision/envelope_report.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

namespace {

run_summary summary_of(bool ok) {
  const axis_model& model = axis_model_state();
  run_summary s{};
  s.ok = ok;
  for (int a = 0; a < axis_count; ++a) {
    s.envelope_min[a] = model.axes[a].envelope_min;
    s.envelope_max[a] = model.axes[a].envelope_max;
    s.scale_numerator[a] = model.scales[a].numerator;
    s.scale_denominator[a] = model.scales[a].denominator;
  }
  s.z_home_steps = z_home_steps();
  s.homed = homing_state().ever_homed;
  s.resume_count = recovery_state().resume_count;
  return s;
}

/// The run's choices go in before it starts; the hooks they set come out
/// again by the same reset when the next run starts.
void take_options(const run_options& options) {
  set_device_opener(options.opener);
  set_dwells_wait(options.dwells_wait);
  for (run_observer* observer : options.observers) subscribe(observer);
  set_before_message_hook(emit_message_coming);
  set_message_shown_hook(emit_message_shown);
  configure_gcode_road(options);
  configure_refusals(options);
  configure_script_interpreter(options);
}

}  // namespace

const char* script_path_of(const char* text) {
  const char* p = text;
  if (*p == '"') {
    const char* close = std::strchr(p + 1, '"');
    p = close ? close + 1 : p + std::strlen(p);
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

int run_program(const run_options& options) {
  reset_run_state();
  set_trace_printed(options.trace);
  // The table points into this buffer, which lives for the whole run.
  char validator_text[validator_text_size];
  std::memcpy(validator_text, builtin_validator_text, validator_text_size);
  if (!reload_validator_table(validator_text)) return 1;
  take_options(options);
  const char* script = options.script.c_str();

  emit_run_started(script);
  if (options.write_outputs) open_translation_log();
  bool ok = run_script_file(script, nullptr);
  if (restart_line_pending()) forget_quiet_travel();
  if (ok && restart_line_pending()) {
    report_restart_line_not_reached(
        options.start_at.file.empty() ? script : options.start_at.file.c_str(),
        options.start_at.line);
    ok = false;
  }
  emit_run_finished(summary_of(ok));
  if (options.write_outputs) write_envelope_report();
  close_all_ports();
  free_validator_table();
  release_run_hooks();
  return ok ? 0 : 1;
}

int run_program(const char* command_line_text, const std::vector<run_observer*>& observers) {
  run_options options;
  options.script = script_path_of(command_line_text);
  options.observers = observers;
  return run_program(options);
}
