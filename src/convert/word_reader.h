// Reading one line of general G-code into its words. CAM programs write
// words in any order and letter case, several to a line, with blanks inside
// and between them; the reader gives back a plain record of the words and
// the line's comment text, or says which part of the line it cannot take.
#pragma once

#include <cstddef>

/// One line's words. Letter words (every letter but G, M and N) hold a
/// value each; G and M codes are kept as tenths (G90.1 is 901, G1 is 10).
struct gcode_block {
  bool has[26] = {};
  double value[26] = {};
  int g[12] = {};
  int g_count = 0;
  int m[8] = {};
  int m_count = 0;
  char comment[256] = {};  // the comments' text, joined by one blank
  bool has_comment = false;
  bool program_number = false;  // an O-word alone: the program's number
};

inline bool block_has(const gcode_block& block, char letter) { return block.has[letter - 'A']; }
inline double block_value(const gcode_block& block, char letter) {
  return block.value[letter - 'A'];
}

/// Reads `length` bytes of one line (no line end). On failure `why` names
/// what could not be read and why, and the result is false.
bool read_gcode_block(const char* line, size_t length, gcode_block& block, const char*& why);
