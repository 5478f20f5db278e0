#include "runner/script_reader.h"

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
}  // namespace

size_t read_script_line(script_reader& r, char* line, size_t size) {
  size_t length = 0;
  while (length + 1 < size && refill(r)) {
    char c = r.block[r.position++];
    line[length++] = c;
    if (c == '\n') break;
    if (c == '\r') {
      // A carriage return ends the line; a line feed right after it belongs
      // to the same line end.
      if (length + 1 < size && refill(r) && r.block[r.position] == '\n')
        line[length++] = r.block[r.position++];
      break;
    }
  }
  line[length] = '\0';
  return length;
}
