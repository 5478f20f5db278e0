// Homing ties the tracked position to the machine: the three home commands
// drive the axes to their home positions, and the record is set to the home
// position. On the first homing with a machine attached the controller is
// also asked, once per run, for the native scale of each axis.
#pragma once

#include <cstdint>

#include "gcode/axis_model.h"
#include "link/validator_table.h"
#include "platform/device.h"

struct homing_record {
  bool homed = false;
  bool scales_queried = false;
  bool ever_homed = false;  // a homing happened in this run
};

homing_record& homing_state();
void reset_homing();
void set_homed(bool homed);

/// Homes the machine unless it is homed already. True when it is homed on
/// return. A null handle homes without a machine: every home command counts
/// as accepted and no scale is queried. A homing resets the envelope to the
/// home position, except with `keep_envelope` (a recovery's homing), where
/// the travel before it still counts.
bool ensure_homed(port_handle handle, bool keep_envelope = false);

/// Sets the record to the home position, as a homing would, without a word
/// to anyone: no command, no log line, no event. The lines before a resumed
/// job's line are tracked this way.
void home_record_only();

/// Reads a scale reply ("2048/1688 ..."): true, with the two numbers, when
/// the reply begins with an integer followed at once by "/" and a second one.
bool parse_scale_reply(const char* reply, int32_t& numerator, int32_t& denominator);

/// Whether a queried scale may replace an axis's scale: both numbers
/// positive, the feed-rate products of the envelope report within 32 bits,
/// and (for Z) the home depth convertible to a step count.
bool scale_is_usable(axis_index axis, axis_scale scale);
