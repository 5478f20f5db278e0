// Moves to millrun's home: G28 and G30 (through the named point when the
// line gives one), and G53 moves in machine coordinates, which millprep
// measures from millrun's home. Home moves are rapids and stay out of the
// extent that --fit places.
#pragma once

#include <string>

#include "convert/converter.h"
#include "convert/word_reader.h"

/// `home_word` for G28/G30 on the line, `machine` for G53.
bool convert_home_move(convert_state& state, const gcode_block& block, long number,
                       const std::string& text, bool home_word, bool machine);
