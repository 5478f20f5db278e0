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
bool refuse_line(convert_state& state, long number, const std::string& text, const std::string& why);

/// A warning on standard error, unless the pass is quiet.
void warn_line(const convert_state& state, long number, const std::string& why);
