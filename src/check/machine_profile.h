// A machine's travel limits: the ranges an option or a profile line gives
// ("0:12", ":2.11", "-1.5:"), and the small profile file that holds them for
// one machine. Pure readers: text in, limits or an error out.
#pragma once

#include <string>

#include "runner/run_options.h"

/// Reads "MIN:MAX" (either bound may be empty; "" and ":" set none) into
/// axis `axis` of `limits`, replacing what it held. A bound is a plain
/// decimal number with an optional sign. False, with `error` saying why and
/// `limits` unchanged, when the text is not such a range or MIN exceeds MAX.
bool read_travel_range(const std::string& text, int axis, travel_limits& limits,
                       std::string& error);

/// Which axes a profile names, so that options can replace just those.
struct machine_profile {
  travel_limits limits;
  bool named[run_axis_count] = {false, false, false};
};

/// Reads a profile's text: one "AXIS = MIN:MAX" per line (AXIS x, y or z,
/// any letter case), blank lines, and comments from "#" to the line's end.
/// False at the first fault, with `error` saying what is wrong
/// ("unknown axis \"w\" (x, y or z)") and `error_line` where.
bool read_machine_profile(const std::string& text, machine_profile& profile, std::string& error,
                          int& error_line);

/// Reads the profile file at `path`; `error` names the file and the line
/// ("mill.profile:3: unknown axis ...").
bool read_machine_profile_file(const std::string& path, machine_profile& profile,
                               std::string& error);

/// "X 0.0000:12.0000", "Z :2.1100", "Y none": an axis's limits for a report.
std::string describe_travel_range(const travel_limits& limits, int axis);
