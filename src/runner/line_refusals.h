// How each kind of G-code line the run refuses is told: one table of the
// message's caption and text, and of what the check reports; and the advice
// that follows a refused line of CAM output.
#pragma once

#include <cstddef>

#include "gcode/command_composer.h"

struct refusal_entry {
  translation_result result;
  const char* caption;  // a format filled with the path and the line number
  const char* text;     // filled with the path, the line number and the line
  const char* what;     // for the check: what is wrong
  const char* why;      // and why (may be empty)
};

/// The entry for a line refused with `result`; "Unknown GCode" for a result
/// that is no refusal.
const refusal_entry& refusal_for(translation_result result);

/// The advice after a refused line of CAM output, for the file at `path`:
/// "convert CAM output first: millprep job.nc -o job_millrun.nc". The
/// output is suggested beside the input; a path with blanks is quoted.
void convert_hint(const char* path, char* text, size_t size);
