#include "supervision/homing.h"

#include <cstdio>

#include "common/decimal.h"
#include "gcode/command_composer.h"
#include "link/command_exchange.h"

const match_pattern home_reply_pattern{"\"/1000", false, true};

namespace {

homing_record homing;

constexpr const char* scale_queries[axis_count] = {
    "get_native_axis_scale X", "get_native_axis_scale Y", "get_native_axis_scale Z"};

/// The Z home position under the Z scale in force. The depth keyword and the
/// scale check keep it convertible; 0 stands in should it ever not be.
int32_t z_home_steps() {
  int32_t steps = 0;
  inches_to_steps(axis_model_state().work_surface_depth, 'z', steps);
  return steps;
}

/// Asks the controller for each axis's scale. A query whose command could
/// not be written skips its read: no reply can come, and the wait for one
/// would have no end.
void query_scales(port_handle handle) {
  axis_model& model = axis_model_state();
  for (int a = 0; a < axis_count; ++a) {
    if (!send_command(scale_queries[a], handle)) continue;
    bool accepted = false;
    reply_line reply = read_response_line(handle, home_reply_pattern, accepted);
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

bool ensure_homed(port_handle handle, bool keep_envelope) {
  if (homing.homed) return true;
  axis_model& model = axis_model_state();
  const bool reset = !keep_envelope;

  if (!send_and_validate("z_home u", home_reply_pattern, handle)) return false;
  set_axis_position(axis_z, model.work_surface_depth, z_home_steps(), reset);
  if (!send_and_validate("x_home l", home_reply_pattern, handle)) return false;
  set_axis_position(axis_x, 0.0, 0, reset);
  if (!send_and_validate("y_home b", home_reply_pattern, handle)) return false;
  set_axis_position(axis_y, 0.0, 0, reset);

  model.axes[axis_x].last_dir_positive = true;
  model.axes[axis_y].last_dir_positive = false;
  model.axes[axis_z].last_dir_positive = true;
  homing.homed = true;

  static const char* const home_lines[] = {"x_home l", "y_home b", "z_home u"};
  log_commands(home_lines, 3);

  if (!handle || homing.scales_queried) return true;
  query_scales(handle);
  homing.scales_queried = true;
  return true;
}
