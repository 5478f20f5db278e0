// Reads a script file one line at a time into a fixed buffer. A line ends
// at a line feed, a carriage return and line feed, or a lone carriage
// return (old Macintosh files), so no file runs as one long line. A line
// longer than the buffer is handed out as its first piece, marked as cut;
// the caller skips the rest of it.
#pragma once

#include <cstddef>
#include <cstdio>

struct script_reader {
  std::FILE* file = nullptr;
  char block[65536];
  size_t position = 0;
  size_t filled = 0;
  bool failed = false;  // a read error (a directory, an I/O fault)
  /// The last piece ended before its line did: the line is longer than the
  /// buffer could hold.
  bool line_cut = false;
};

/// Opens `path` for reading; false when it cannot be opened or is no
/// regular file (a folder, a device, a FIFO).
bool open_script_reader(script_reader& reader, const char* path);
void close_script_reader(script_reader& reader);

/// Reads the next piece into `line` (at most `size` - 1 bytes, line end
/// included, then a terminator). Returns the piece's length, 0 at the end.
/// A line of exactly `size` - 1 characters is whole: its line end is taken
/// with it, though there is no room to keep it. A longer line sets
/// `line_cut`.
size_t read_script_line(script_reader& reader, char* line, size_t size);

/// Reads past the rest of a cut line, its line end included.
void skip_rest_of_script_line(script_reader& reader);
