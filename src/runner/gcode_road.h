// The road of one G-code line: translate, home, look up, send, and on a
// failed command the recovery. Also the quiet road of the lines before a
// resumed job's line, and how a line the run refuses is told.
#pragma once

#include "platform/device.h"
#include "runner/run_options.h"

/// Takes the run's choices that the road follows.
void configure_gcode_road(const run_options& options);
void reset_gcode_road();

/// Refuses a line: shows the message formatted from `caption_format` and
/// `text_format` (each filled with the path and line number, the text also
/// with `line_text`) and returns false, which stops the file. When the run
/// passes refused lines over, tells `what` and `why` as an event instead and
/// returns true.
bool refuse_line(const char* caption_format, const char* text_format, const char* path,
                 int line_number, const char* line_text, const char* what, const char* why);

/// Whether refused lines are told and passed over (the pre-cut check).
bool passing_refused_lines();

/// Translates, homes, sends and, on a failed command, recovers one trimmed
/// G-code line. `line_text` is the line as handed in (for messages), `line`
/// its trimmed text; both are normalised in place.
bool run_gcode_line(const char* path, int line_number, char* line_text, char* line,
                    port_handle& handle);

/// A line before a resumed job's line: translated and tracked as the run
/// would track it (homing included), but nothing is sent, logged, traced or
/// told, and a dwell waits nothing. A line that would fail fails.
bool track_gcode_line_quietly(const char* path, int line_number, char* line_text, char* line,
                              port_handle handle);
