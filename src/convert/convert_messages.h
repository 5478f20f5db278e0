// The converter's messages: the refusal of a line that cannot be converted
// faithfully, a warning that lets the conversion go on, and the line as
// both quote it.
#pragma once

#include <cstddef>
#include <string>

#include "convert/converter.h"

/// The line as a message shows it: at most 200 characters ("..." after a
/// longer one), control characters as blanks.
std::string quoted_line(const char* line, size_t length);

/// Leaves the refusal of line `number` in `state.failure` with exit code 1.
/// Always false, so that a step can `return refuse_line(...)`.
bool refuse_line(convert_state& state, long number, const std::string& text,
                 const std::string& why);

/// A warning on standard error, unless the pass is quiet.
void warn_line(const convert_state& state, long number, const std::string& why);

/// The most motion lines one input line may become.
constexpr double most_lines_per_line = 100000;

/// Refuses a line that would become more than `most_lines_per_line` motion
/// lines, naming the count it would need and, in `hint`, what to change.
bool check_line_count(convert_state& state, long number, const std::string& text, double lines,
                      const char* hint);

/// Warns of a dwell over a minute: a CAM program that writes milliseconds
/// read as seconds waits a thousand times too long.
void warn_long_dwell(const convert_state& state, long number, double milliseconds);
