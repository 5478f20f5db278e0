// The tracked position of the three axes, in inches and in motor steps, with
// the envelope of all positions reached since the last homing. The
// controller is never asked where it is: this record is the only knowledge
// of the position, and homing is the only moment it is tied to the machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/machine_defaults.h"

enum axis_index { axis_x = 0, axis_y = 1, axis_z = 2, axis_count = 3 };
static_assert(axis_count == axis_letter_count, "one tracked axis per axis letter");

struct axis_state {
  double position_in = 0.0;
  int32_t position_steps = 0;
  int32_t envelope_min = 0;
  int32_t envelope_max = 0;
  bool last_dir_positive = false;
};

/// `numerator` steps per `denominator` thousandths of an inch.
struct axis_scale {
  int32_t numerator;
  int32_t denominator;
};

struct axis_moves {
  int32_t direction[axis_count];  // -1, 0 or +1
  int32_t steps[axis_count];
  double target[axis_count];  // inches
};

/// A motion line's targets as read from its operands: the axes it names
/// and their targets in inches.
struct motion_targets {
  bool named[axis_count] = {false, false, false};
  double target[axis_count] = {0.0, 0.0, 0.0};  // inches, where named
  const char* end = nullptr;                    // where the reading stopped
};

struct axis_model {
  axis_state axes[axis_count];
  axis_scale scales[axis_count] = {{1024, 1688}, {1024, 1688}, {4000, 1000}};
  double work_surface_depth = z_home_inches;
  int32_t ms_per_step = 10;
  uint32_t direction_change_pauses[3] = {0, 0, 0};
};

axis_model& axis_model_state();
void reset_axis_model();

/// The axis index of a letter x, y or z (either case), or -1.
int axis_of_letter(char axis);

/// Converts inches to steps on an axis (x, y or z; any other letter takes
/// the inches as thousandths), rounding halves away from zero. False when the
/// result does not fit a signed 32-bit step count; `steps` is then untouched.
bool inches_to_steps(double inches, char axis, int32_t& steps);

/// Converts with an explicit scale.
bool inches_to_steps_with(double inches, axis_scale scale, int32_t& steps);

/// Inches of `steps` on an axis under `scale`.
double steps_to_inches(int32_t steps, axis_scale scale);

/// Reads the number text of an operand: the leading digits, "-" and ".".
/// `length` counts every character collected. The whole collected text is
/// converted, however long, so a zero-padded number reads right.
double parse_number(const char* text, size_t& length);

/// The moves that bring the axes from the tracked position to the operands'
/// target. Changes nothing. False when a target or a step difference does
/// not fit the 32-bit step arithmetic.
bool compute_axis_moves(const char* operands, axis_moves& moves);
bool compute_axis_moves(const motion_targets& targets, axis_moves& moves);

/// Advances the record to the operands' target and widens the envelope.
/// False (and nothing changed) when the target is out of range.
bool apply_axis_moves(const char* operands);

/// Applies moves that compute_axis_moves has just produced.
void apply_moves(const axis_moves& moves);

/// Re-applies a whole G-code line: a motion line advances the record to its
/// target, anything else changes nothing. `line` is normalised in place.
void track_gcode_line(char* line);

/// Advances the record to targets read before (a line tracked again after
/// its reply). False (and nothing changed) when the target is out of range.
bool apply_axis_targets(const motion_targets& targets);

/// The Z home position, the top of Z travel, in steps under the Z scale in
/// force. The depth keyword and the scale check keep it convertible; 0
/// stands in should it ever not be.
int32_t z_home_steps();

void set_work_surface_depth(double value);
void direction_change_pauses(uint32_t a, uint32_t b, uint32_t c);

/// Sets an axis to a fixed position. The envelope is reset there, or, with
/// `reset_envelope` false, widened to hold it.
void set_axis_position(axis_index axis, double inches, int32_t steps, bool reset_envelope = true);

/// Where the record says the axes stand, in inches and in steps.
struct axis_position {
  double inches[axis_count];
  int32_t steps[axis_count];
};
axis_position tracked_position();
