#include "supervision/homing.h"

#include <cstdio>

#include "common/decimal.h"
#include "common/run_events.h"
#include "gcode/axis_words.h"
#include "gcode/translation_log.h"
#include "link/command_exchange.h"

namespace {

homing_record homing;

/// Asks the controller for each axis's scale. A query whose command could
/// not be written skips its read: no reply can come, and the wait for one
/// would have no end.
void query_scales(port_handle handle) {
  axis_model& model = axis_model_state();
  for (int a = 0; a < axis_count; ++a) {
    emit_command_issued(
        {axis_table[a].scale_query, command_kind::scale_query, 0, -1, handle != nullptr});
    if (!send_command(axis_table[a].scale_query, handle)) continue;
    bool accepted = false;
    reply_line reply = read_response_line(handle, home_reply_pattern, accepted);
    emit_reply_received({axis_table[a].scale_query, reply, accepted});
    axis_scale scale{};
    if (accepted && parse_scale_reply(reply, scale.numerator, scale.denominator) &&
        scale_is_usable(static_cast<axis_index>(a), scale)) {
      bool changed = scale.numerator != model.scales[a].numerator ||
                     scale.denominator != model.scales[a].denominator;
      model.scales[a] = scale;
      // The machine stands at home: measure that position with the machine's
      // own scale, so the next move starts from where it really is.
      if (changed && a == axis_z)
        set_axis_position(axis_z, model.work_surface_depth, z_home_steps());
    }
    release_reply(reply);
  }
  int32_t numerators[axis_count], denominators[axis_count];
  for (int a = 0; a < axis_count; ++a) {
    numerators[a] = model.scales[a].numerator;
    denominators[a] = model.scales[a].denominator;
  }
  emit_scales_queried(numerators, denominators);
}

/// Sends the home command of `axis` and, when it is accepted, sets the axis
/// to its home position. A recovery's homing tells how far the axis travels
/// (it stood where the job stood); before any other homing where the machine
/// stands is not known, so no travel is told.
bool home_axis(axis_index axis, int32_t home_steps, double home_in, port_handle handle,
               bool keep_envelope) {
  const axis_state& state = axis_model_state().axes[axis];
  const int64_t travel = keep_envelope ? int64_t{state.position_steps} - home_steps : 0;
  const char* command = axis_table[axis].home_command;
  emit_command_issued(
      {command, command_kind::home, travel < 0 ? -travel : travel, -1, handle != nullptr});
  if (!send_and_validate(command, home_reply_pattern, handle)) return false;
  set_axis_position(axis, home_in, home_steps, !keep_envelope);
  return true;
}

}  // namespace

homing_record& homing_state() { return homing; }
void reset_homing() { homing = homing_record{}; }
void set_homed(bool homed) { homing.homed = homed; }

bool parse_scale_reply(const char* reply, int32_t& numerator, int32_t& denominator) {
  if (!reply) return false;
  const char* end = nullptr;
  int32_t first = read_integer(reply, &end);
  if (*end != '/') return false;
  numerator = first;
  denominator = read_integer(end + 1);
  return true;
}

bool scale_is_usable(axis_index axis, axis_scale scale) {
  // NOTE: a reply's numbers are kept only when both are positive and fit the
  // arithmetic that uses them: a zero or negative scale would divide by zero
  // or turn every move around.
  if (scale.numerator <= 0 || scale.denominator <= 0) return false;
  const int64_t ms_per_step = axis_model_state().ms_per_step;
  if (int64_t{scale.denominator} * 60 > INT32_MAX) return false;
  if (int64_t{scale.numerator} * ms_per_step > INT32_MAX) return false;
  int32_t steps = 0;
  if (axis == axis_z && !inches_to_steps_with(axis_model_state().work_surface_depth, scale, steps))
    return false;
  return true;
}

void home_record_only() {
  axis_model& model = axis_model_state();
  set_axis_position(axis_z, model.work_surface_depth, z_home_steps());
  set_axis_position(axis_x, 0.0, 0);
  set_axis_position(axis_y, 0.0, 0);
  model.axes[axis_x].last_dir_positive = true;
  model.axes[axis_y].last_dir_positive = false;
  model.axes[axis_z].last_dir_positive = true;
  homing.homed = homing.ever_homed = true;
}

bool ensure_homed(port_handle handle, bool keep_envelope) {
  if (homing.homed) return true;
  axis_model& model = axis_model_state();

  // Z first, up to the top of its travel, so that X and Y move clear of the
  // work.
  if (!home_axis(axis_z, z_home_steps(), model.work_surface_depth, handle, keep_envelope))
    return false;
  if (!home_axis(axis_x, 0, 0.0, handle, keep_envelope)) return false;
  if (!home_axis(axis_y, 0, 0.0, handle, keep_envelope)) return false;

  model.axes[axis_x].last_dir_positive = true;
  model.axes[axis_y].last_dir_positive = false;
  model.axes[axis_z].last_dir_positive = true;
  homing.homed = homing.ever_homed = true;

  static const char* const home_lines[] = {axis_table[axis_x].home_command,
                                           axis_table[axis_y].home_command,
                                           axis_table[axis_z].home_command};
  log_commands(home_lines, 3);
  emit_homing_done({{0, 0, z_home_steps()}, keep_envelope});

  if (!handle || homing.scales_queried) return true;
  query_scales(handle);
  homing.scales_queried = true;
  return true;
}
