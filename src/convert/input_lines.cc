#include "convert/input_lines.h"

#include <cstring>

namespace {

// Makes sure `ahead` + 1 bytes past the position are in the block, when the
// input holds them. Returns the byte there, or -1 past the end.
int peek(input_lines& in, size_t ahead) {
  if (in.position + ahead >= in.filled) {
    size_t kept = in.filled - in.position;
    std::memmove(in.block, in.block + in.position, kept);
    in.position = 0;
    in.filled = kept;
    while (in.filled <= ahead && !in.failed) {
      size_t got = std::fread(in.block + in.filled, 1, sizeof in.block - in.filled, in.file);
      in.filled += got;
      in.failed = std::ferror(in.file) != 0;
      if (got == 0) break;
    }
    if (ahead >= in.filled) return -1;
  }
  return static_cast<unsigned char>(in.block[in.position + ahead]);
}

}  // namespace

bool read_input_line(input_lines& in, std::string& line, size_t cap) {
  line.clear();
  if (!in.started) {
    in.started = true;
    if (peek(in, 2) == 0xBF && peek(in, 0) == 0xEF && peek(in, 1) == 0xBB)
      in.position += 3;  // UTF-8 mark
  }
  if (peek(in, 0) < 0) return false;
  for (int c = peek(in, 0); c >= 0; c = peek(in, 0)) {
    ++in.position;
    if (c == '\n') break;
    if (c == '\r') {
      // CR LF and CR CR LF belong to one line end, as editors count lines.
      if (peek(in, 0) == '\n')
        ++in.position;
      else if (peek(in, 0) == '\r' && peek(in, 1) == '\n')
        in.position += 2;
      break;
    }
    if (line.size() < cap) line.push_back(static_cast<char>(c));
  }
  return true;
}
