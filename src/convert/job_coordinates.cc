#include "convert/job_coordinates.h"

#include <cmath>

#include "common/machine_defaults.h"
#include "convert/convert_messages.h"

void plane_axes(int plane, int axes[3]) {
  if (plane == 18)
    axes[0] = 2, axes[1] = 0, axes[2] = 1;
  else if (plane == 19)
    axes[0] = 1, axes[1] = 2, axes[2] = 0;
  else
    axes[0] = 0, axes[1] = 1, axes[2] = 2;
}

double& point_axis(point3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }
double point_axis(const point3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

double unit_scale(const convert_state& state) { return state.units == 21 ? 1 / 25.4 : 1.0; }

bool has_axis_words(const gcode_block& block) {
  return block_has(block, 'X') || block_has(block, 'Y') || block_has(block, 'Z');
}

bool need_units(convert_state& state, long number, const std::string& text) {
  if (state.units != 0) return true;
  if (state.options->units != 0) {
    state.units = state.options->units;
    return true;
  }
  return refuse_line(
      state, number, text,
      "the job does not say whether it is in inches (G20) or millimetres (G21) before its first "
      "coordinate; give --units in or --units mm");
}

point3 target_of(const convert_state& state, const gcode_block& block) {
  point3 target = state.position;
  double scale = unit_scale(state);
  const char* const letters = axis_letters;
  for (int axis = 0; axis < 3; ++axis) {
    if (!block_has(block, letters[axis])) continue;
    double value = block_value(block, letters[axis]) * scale;
    point_axis(target, axis) = state.absolute ? value : point_axis(state.position, axis) + value;
  }
  return target;
}

bool check_range(convert_state& state, long number, const std::string& text, const point3& p) {
  if (std::fabs(p.x) > largest_coordinate || std::fabs(p.y) > largest_coordinate ||
      std::fabs(p.z) > largest_coordinate)
    return refuse_line(state, number, text, "a target lies more than 100000 in from the origin");
  return true;
}

point3 to_machine(const convert_state& state, const point3& p) {
  return {p.x + state.shift[0], p.y + state.shift[1], p.z + state.shift[2]};
}

point3 home_point(const convert_state& state) {
  return {-state.shift[0], -state.shift[1], state.home_z - state.shift[2]};
}

void start_at_home(convert_state& state) {
  if (state.position_set) return;
  state.position = home_point(state);
  state.position_set = true;
}
