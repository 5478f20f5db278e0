#include "runner/restart.h"

#include "common/message.h"
#include "gcode/axis_model.h"
#include "platform/platform.h"
#include "runner/line_refusals.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

void forget_quiet_travel() {
  for (axis_state& axis : axis_model_state().axes) axis.envelope_min = axis.envelope_max = 0;
}

namespace {

/// From home to where the job stands (`stand_in`, inches): X, then Y, with Z
/// at the top of its travel, then Z down last.
bool drive_to(const double (&stand_in)[axis_count], const line_place& where, port_handle handle) {
  // Measured with the machine's own scales, which the query may have
  // changed since the quiet lines were tracked.
  axis_position target{};
  for (int a = 0; a < axis_count; ++a) {
    target.inches[a] = stand_in[a];
    if (!inches_to_steps_with(stand_in[a], axis_model_state().scales[a], target.steps[a])) {
      refuse(refusal::target_out_of_range, where);
      return false;
    }
  }
  const char* refused = nullptr;
  if (!reposition_axes(target, handle, refused)) {
    if (platform_stop_requested()) return false;
    refuse(refusal::approach_failed, where, refused);
    return false;
  }
  // The envelope starts at this homing, and the approach is travel of the
  // machine: where it drove belongs in it even when no later line goes as
  // far (a resume at the line that lifts Z would otherwise leave out the
  // depth the approach went down to).
  for (int a = 0; a < axis_count; ++a)
    set_axis_position(static_cast<axis_index>(a), target.inches[a], target.steps[a], false);
  return true;
}

}  // namespace

bool approach_restart_line(const line_place& where, port_handle handle) {
  // Whatever happens next, the quiet lines moved nothing.
  forget_quiet_travel();
  if (!handle) {
    refuse(refusal::no_machine_to_restart, where);
    return false;
  }
  // Where the job stands before the line, in inches; a job that has not
  // moved yet stands at home.
  if (!homing_state().homed) home_record_only();
  double stand_in[axis_count];
  for (int a = 0; a < axis_count; ++a) stand_in[a] = axis_model_state().axes[a].position_in;

  set_homed(false);
  if (!ensure_homed(handle)) {
    if (platform_stop_requested()) return false;
    refuse(refusal::homing_failed, where);
    return false;
  }
  if (platform_stop_requested()) return false;

  return drive_to(stand_in, where, handle);
}

void report_restart_line_not_reached(const char* file, int line_number) {
  message_buffers& m = shared_message();
  format_text(m.caption, sizeof m.caption, "Resume line not reached @ %s:%d", file, line_number);
  format_text(m.text, sizeof m.text,
              "The script never reached line %d of %s, so the job was not resumed. Nothing was "
              "sent.",
              line_number, file);
  show_buffers(m);
}
