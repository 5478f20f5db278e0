// Where a resumed job takes up the machine: at its line, the machine is
// homed and asked for its scales as at the start of a run, then driven to
// where the job stands before that line (X, then Y, with Z at the top of its
// travel, then Z down last).
#pragma once

#include "platform/device.h"

/// False, with a message, when there is no link to home and drive, or when
/// the homing or an approach move fails.
bool approach_resume_line(const char* path, int line_number, const char* line_text,
                          port_handle handle);

/// The lines before a resumed job's line are tracked, envelope included,
/// but moved nothing: until the resume's homing the envelope is that of a
/// run that never homed (all zero).
void forget_quiet_travel();

/// The message for a resume line the script never reached.
void report_resume_line_not_reached(const char* file, int line_number);
