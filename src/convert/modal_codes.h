// The G-codes a three-axis job may hold and what becomes of each. The modal
// settings (plane, units, distance modes, the cycle's retract level) go into
// the converter's state as the line is read; the codes that act on the line
// itself (its motion, a dwell, a home move) are handed back.
#pragma once

#include <string>

#include "convert/converter.h"
#include "convert/word_reader.h"

/// What the G-codes of one line ask of it.
struct line_codes {
  int motion_word = -1;  // 0, 1, 2, 3, 73, 81, 82, 83 given on the line; -1 none
  int home_word = -1;    // 28 or 30; -1 none
  bool dwell = false;    // G4
  bool machine = false;  // G53
};

/// Takes the line's G-codes in their order: settings into `state`, the
/// rest into `codes`. Refuses a code millprep cannot convert faithfully and
/// two motion codes on one line.
bool read_line_codes(convert_state& state, const gcode_block& block, long number,
                     const std::string& text, line_codes& codes);

/// Makes the line's motion code the modal motion: a cycle code starts a
/// cycle at the present Z, G0 to G3 end one; G0 and G1 are remembered for
/// the lines after G80.
void take_motion_word(convert_state& state, int motion_word);
