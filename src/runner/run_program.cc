#include "runner/run_program.h"

#include <cstring>

#include "gcode/command_composer.h"
#include "link/port_opening.h"
#include "link/validator_table.h"
#include "runner/run_events.h"
#include "runner/run_state.h"
#include "runner/script_interpreter.h"
#include "supervision/envelope_report.h"

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

int run_program(const char* command_line_text) {
  reset_run_state();
  // The table points into this buffer, which lives for the whole run.
  char validator_text[validator_text_size];
  std::memcpy(validator_text, builtin_validator_text, validator_text_size);
  if (!reload_validator_table(validator_text)) return 1;

  open_translation_log();
  bool ok = run_script_file(script_path_of(command_line_text), nullptr);
  if (auto hook = run_event_hooks().run_finished) hook(ok);
  write_envelope_report();
  close_all_ports();
  free_validator_table();
  return ok ? 0 : 1;
}
