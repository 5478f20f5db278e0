#include "gcode/axis_model.h"

#include <cmath>

#include "common/decimal.h"
#include "gcode/line_filter.h"
#include "gcode/motion_line.h"

namespace {
axis_model model;

bool fits_int32(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }
}  // namespace

axis_model& axis_model_state() { return model; }
void reset_axis_model() { model = axis_model{}; }

int axis_of_letter(char axis) {
  switch (axis) {
    case 'x':
    case 'X':
      return axis_x;
    case 'y':
    case 'Y':
      return axis_y;
    case 'z':
    case 'Z':
      return axis_z;
    default:
      return -1;
  }
}

bool inches_to_steps_with(double inches, axis_scale scale, int32_t& steps) {
  double thousandths = inches * 1000.0;
  double r =
      static_cast<double>(scale.numerator) * thousandths / static_cast<double>(scale.denominator);
  double rounded = std::round(r);  // halves away from zero
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return false;
  steps = static_cast<int32_t>(rounded);
  return true;
}

double steps_to_inches(int32_t steps, axis_scale scale) {
  if (scale.numerator == 0) return steps / 1000.0;
  return static_cast<double>(steps) * scale.denominator / (1000.0 * scale.numerator);
}

bool inches_to_steps(double inches, char axis, int32_t& steps) {
  int index = axis_of_letter(axis);
  axis_scale scale = index < 0 ? axis_scale{1, 1} : model.scales[index];
  return inches_to_steps_with(inches, scale, steps);
}

double parse_number(const char* text, size_t& length) {
  size_t n = 0;
  while ((text[n] >= '0' && text[n] <= '9') || text[n] == '-' || text[n] == '.') ++n;
  length = n;
  return read_real_n(text, n);
}

bool compute_axis_moves(const char* operands, axis_moves& moves) {
  motion_targets targets;
  read_motion_operands(operands, targets);
  return compute_axis_moves(targets, moves);
}

bool compute_axis_moves(const motion_targets& targets, axis_moves& moves) {
  for (int a = 0; a < axis_count; ++a) {
    const axis_state& axis = model.axes[a];
    if (!targets.named[a]) {
      moves.target[a] = axis.position_in;
      moves.steps[a] = 0;
      moves.direction[a] = 0;
      continue;
    }
    double target = targets.target[a];
    int32_t target_steps = 0;
    if (!inches_to_steps_with(target, model.scales[a], target_steps)) return false;
    int64_t steps = target > axis.position_in ? int64_t{target_steps} - axis.position_steps
                                              : int64_t{axis.position_steps} - target_steps;
    if (!fits_int32(steps)) return false;
    moves.target[a] = target;
    moves.steps[a] = static_cast<int32_t>(steps);
    moves.direction[a] = steps == 0 ? 0 : (target > axis.position_in ? 1 : -1);
  }
  return true;
}

bool apply_axis_moves(const char* operands) {
  axis_moves moves;
  if (!compute_axis_moves(operands, moves)) return false;
  apply_moves(moves);
  return true;
}

bool apply_axis_targets(const motion_targets& targets) {
  axis_moves moves;
  if (!compute_axis_moves(targets, moves)) return false;
  apply_moves(moves);
  return true;
}

void apply_moves(const axis_moves& moves) {
  for (int a = 0; a < axis_count; ++a) {
    axis_state& axis = model.axes[a];
    // direction x steps brings the count to the target's conversion, which
    // compute_axis_moves has checked to fit.
    axis.position_in = moves.target[a];
    axis.position_steps = static_cast<int32_t>(int64_t{axis.position_steps} +
                                               int64_t{moves.direction[a]} * moves.steps[a]);
    if (axis.position_steps < axis.envelope_min) axis.envelope_min = axis.position_steps;
    if (axis.position_steps > axis.envelope_max) axis.envelope_max = axis.position_steps;
    if (moves.steps[a] != 0) axis.last_dir_positive = moves.direction[a] > 0;
  }
}

void track_gcode_line(char* line) {
  char* text = strip_line_number(line);
  strip_comment(text);
  if (is_ignored_gcode(text, false)) return;
  if (const char* operands = motion_operands(text)) apply_axis_moves(operands);
}

int32_t z_home_steps() {
  int32_t steps = 0;
  inches_to_steps_with(model.work_surface_depth, model.scales[axis_z], steps);
  return steps;
}

void set_work_surface_depth(double value) { model.work_surface_depth = value; }

void direction_change_pauses(uint32_t a, uint32_t b, uint32_t c) {
  model.direction_change_pauses[0] = a;
  model.direction_change_pauses[1] = b;
  model.direction_change_pauses[2] = c;
}

void set_axis_position(axis_index axis, double inches, int32_t steps, bool reset_envelope) {
  axis_state& state = model.axes[axis];
  state.position_in = inches;
  state.position_steps = steps;
  if (reset_envelope || steps < state.envelope_min) state.envelope_min = steps;
  if (reset_envelope || steps > state.envelope_max) state.envelope_max = steps;
}

axis_position tracked_position() {
  axis_position p;
  for (int a = 0; a < axis_count; ++a) {
    p.inches[a] = model.axes[a].position_in;
    p.steps[a] = model.axes[a].position_steps;
  }
  return p;
}
