// The words of a line that do not move the tool: M, T, S and F. millrun has
// no spindle, coolant or tool changer, so they become lines millrun ignores;
// a second tool or a program stop after the job began cutting is noted as a
// break between parts, taken (or refused) at the next move.
#pragma once

#include <string>

#include "convert/converter.h"
#include "convert/word_reader.h"

/// Notes the line's tool and breaks and writes its M, T, S and F words as
/// one line millrun ignores. Refuses subroutine calls (M98, M99).
bool convert_machine_words(convert_state& state, const gcode_block& block, long number,
                           const std::string& text);
