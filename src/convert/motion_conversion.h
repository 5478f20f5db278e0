// The motion of a line under the modal motion code: straight moves (G0,
// G1), arcs as chains of chords (G2, G3) and drilling cycles (G73, G81,
// G82, G83) expanded into the moves of each hole.
#pragma once

#include <string>

#include "convert/converter.h"
#include "convert/word_reader.h"

/// Converts the line's motion; `motion_word` is the motion code given on
/// the line itself (-1 when the modal one continues).
bool convert_motion(convert_state& state, const gcode_block& block, long number,
                    const std::string& text, int motion_word);
