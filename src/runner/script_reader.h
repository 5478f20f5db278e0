// Reads a script file one line at a time into a fixed buffer. A line ends
// at a line feed, a carriage return and line feed, or a lone carriage
// return (old Macintosh files), so no file runs as one long line. A line
// longer than the buffer arrives as several pieces.
#pragma once

#include <cstddef>
#include <cstdio>

struct script_reader {
  std::FILE* file = nullptr;
  char block[65536];
  size_t position = 0;
  size_t filled = 0;
  bool failed = false;  // a read error (a directory, an I/O fault)
};

/// Opens `path` for reading; false when it cannot be opened.
bool open_script_reader(script_reader& reader, const char* path);
void close_script_reader(script_reader& reader);

/// Reads the next piece into `line` (at most `size` - 1 bytes, line end
/// included, then a terminator). Returns the piece's length, 0 at the end.
size_t read_script_line(script_reader& reader, char* line, size_t size);
