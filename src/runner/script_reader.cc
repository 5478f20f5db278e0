#include "runner/script_reader.h"

#include <cstring>

bool open_script_reader(script_reader& reader, const char* path) {
  reader.file = std::fopen(path, "rb");
  reader.position = reader.filled = 0;
  reader.failed = false;
  return reader.file != nullptr;
}

void close_script_reader(script_reader& reader) {
  if (reader.file) std::fclose(reader.file);
  reader.file = nullptr;
}

namespace {
bool refill(script_reader& r) {
  if (r.position < r.filled) return true;
  if (!r.file || r.failed) return false;
  r.position = 0;
  r.filled = std::fread(r.block, 1, sizeof r.block, r.file);
  if (r.filled == 0 && std::ferror(r.file)) r.failed = true;
  return r.filled > 0;
}

/// The byte `ahead` places after the next one, reading on when the block
/// holds fewer; -1 at the end of the file.
int peek(script_reader& r, size_t ahead) {
  if (r.position + ahead >= r.filled && r.file && !r.failed && !std::feof(r.file)) {
    // Keep the bytes not yet taken and read more behind them.
    const size_t kept = r.filled - r.position;
    std::memmove(r.block, r.block + r.position, kept);
    r.position = 0;
    r.filled = kept + std::fread(r.block + kept, 1, sizeof r.block - kept, r.file);
    if (std::ferror(r.file)) r.failed = true;
  }
  if (r.position + ahead >= r.filled) return -1;
  return static_cast<unsigned char>(r.block[r.position + ahead]);
}
}  // namespace

size_t read_script_line(script_reader& r, char* line, size_t size) {
  size_t length = 0;
  while (length + 1 < size && refill(r)) {
    char c = r.block[r.position++];
    line[length++] = c;
    if (c == '\n') break;
    if (c == '\r') {
      // A carriage return ends the line. A line feed right after it, or a
      // second carriage return and a line feed (as one CAM program writes),
      // belong to the same line end, as editors count lines.
      size_t extra = 0;
      if (peek(r, 0) == '\n') extra = 1;
      else if (peek(r, 0) == '\r' && peek(r, 1) == '\n') extra = 2;
      // Taken whole even where the piece has no room left for them, so a
      // full piece never leaves half a line end to count as a line.
      for (; extra > 0; --extra) {
        char end = r.block[r.position++];
        if (length + 1 < size) line[length++] = end;
      }
      break;
    }
  }
  line[length] = '\0';
  return length;
}
