// Where a resumed job takes up the machine: at its line, the machine is
// homed and asked for its scales as at the start of a run, then driven to
// where the job stands before that line (X, then Y, with Z at the top of its
// travel, then Z down last).
#pragma once

#include "common/line_place.h"
#include "platform/device.h"

/// False, with the line's refusal, when there is no link to home and drive,
/// or when the homing or an approach move fails: the job stops there even in
/// a run that passes refused lines over (which tells it as an event instead).
bool approach_restart_line(const line_place& where, port_handle handle);

/// The lines before a resumed job's line are tracked, envelope included,
/// but moved nothing: until the resume's homing the envelope is that of a
/// run that never homed (all zero).
void forget_quiet_travel();

/// The message for a resume line the script never reached.
void report_restart_line_not_reached(const char* file, int line_number);
