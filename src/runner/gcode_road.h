// The road of one G-code line: translate, home, look up, send, and on a
// failed command the recovery. Also the quiet road of the lines before a
// resumed job's line.
#pragma once

#include "common/line_place.h"
#include "platform/device.h"
#include "runner/run_options.h"

/// Takes the run's choices that the road follows.
void configure_gcode_road(const run_options& options);
void reset_gcode_road();

/// Translates, homes, sends and, on a failed command, recovers one trimmed
/// G-code line. `where.text` is the line as handed in (for messages), `line`
/// its trimmed text within it; both are normalised in place.
bool run_gcode_line(const line_place& where, char* line, port_handle& handle);

/// A line before a resumed job's line: translated and tracked as the run
/// would track it (homing included), but nothing is sent, logged, traced or
/// told, and a dwell waits nothing. A line that would fail fails.
bool track_gcode_line_quietly(const line_place& where, char* line, port_handle handle);
