#include "runner/script_reader.h"

#include <cstring>

#include "platform/platform.h"

bool open_script_reader(script_reader& reader, const char* path) {
  // Only a regular file: a device or a FIFO would never end, or hold the
  // opening until someone writes to it.
  reader.file = platform_open_regular_file(path);
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

namespace {
/// Takes the line end that follows a carriage return just taken: a line
/// feed, or a second carriage return and a line feed (as one CAM program
/// writes), belong to the same line end, as editors count lines. Kept in
/// `line` while it has room.
void take_rest_of_line_end(script_reader& r, char* line, size_t& length, size_t size) {
  size_t extra = 0;
  if (peek(r, 0) == '\n')
    extra = 1;
  else if (peek(r, 0) == '\r' && peek(r, 1) == '\n')
    extra = 2;
  for (; extra > 0; --extra) {
    char end = r.block[r.position++];
    if (length + 1 < size) line[length++] = end;
  }
}
}  // namespace

size_t read_script_line(script_reader& r, char* line, size_t size) {
  size_t length = 0;
  r.line_cut = false;
  bool ended = false;
  while (length + 1 < size && refill(r)) {
    // The bytes of this block up to the first line end, copied at once: a
    // job is millions of short lines.
    const char* from = r.block + r.position;
    const size_t available = r.filled - r.position;
    const size_t room = size - 1 - length;
    size_t n = available < room ? available : room;
    const void* feed = std::memchr(from, '\n', n);
    const size_t before_feed = feed ? static_cast<size_t>(static_cast<const char*>(feed) - from) : n;
    const void* carriage = std::memchr(from, '\r', before_feed);
    const size_t end = carriage ? static_cast<size_t>(static_cast<const char*>(carriage) - from)
                                : before_feed;
    const bool found = end < n;
    n = found ? end + 1 : n;  // the line end itself goes with the line
    std::memcpy(line + length, from, n);
    length += n;
    r.position += n;
    if (!found) continue;
    ended = true;
    if (line[length - 1] == '\r') take_rest_of_line_end(r, line, length, size);
    break;
  }
  if (!ended && length > 0) {
    // The buffer is full. A line end right here belongs to this line (a
    // line of exactly size - 1 characters is one line); anything else means
    // the line goes on.
    const int next = peek(r, 0);
    if (next == '\n') {
      ++r.position;
    } else if (next == '\r') {
      ++r.position;
      take_rest_of_line_end(r, line, length, size);
    } else if (next >= 0) {
      r.line_cut = true;
    }
  }
  line[length] = '\0';
  return length;
}

void skip_rest_of_script_line(script_reader& r) {
  char rest[256];
  while (r.line_cut && read_script_line(r, rest, sizeof rest) > 0) {
  }
  r.line_cut = false;
}
