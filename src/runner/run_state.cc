#include "runner/run_state.h"

#include "gcode/axis_model.h"
#include "gcode/command_composer.h"
#include "link/command_exchange.h"
#include "link/port_opening.h"
#include "link/validator_table.h"
#include "runner/script_interpreter.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

void reset_run_state() {
  reset_axis_model();
  reset_command_composer();
  free_validator_table();
  close_all_ports();
  reset_port_memory();
  reset_command_exchange();
  reset_homing();
  reset_recovery();
  reset_script_interpreter();
}
