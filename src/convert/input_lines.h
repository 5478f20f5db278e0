// Reading the input as a stream of lines, as millrun counts them: a line
// feed, a carriage return and a line feed, two carriage returns and a line
// feed, or a carriage return alone each end one line. Memory does not grow
// with the input: a line longer than the cap is cut there (the converter
// refuses it, having seen that it is longer than it may be).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct input_lines {
  std::FILE* file = nullptr;
  char block[1 << 16];
  size_t position = 0, filled = 0;
  bool started = false;  // the UTF-8 mark at the very start was looked for
  bool failed = false;   // a read failed (or a stop cut it short): no more reads
};

/// Reads the next line into `line` (without its line end), at most `cap`
/// bytes of it. False at the end of the input (or on a read error: see
/// std::ferror) when no line is left.
bool read_input_line(input_lines& input, std::string& line, size_t cap);
