#include "convert/job_writer.h"

#include <cmath>
#include <cstring>

#include "common/machine_defaults.h"

long long to_ten_thousandths(double inches) { return std::llround(inches * 10000.0); }

int format_ten_thousandths(long long value, char* out) {
  char digits[24];
  int n = 0;
  unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0 || n < 5);
  int length = 0;
  if (value < 0) out[length++] = '-';
  for (int i = n - 1; i >= 4; --i) out[length++] = digits[i];
  out[length++] = '.';
  for (int i = 3; i >= 0; --i) out[length++] = digits[i];
  return length;
}

void writer_begin_at(job_writer& writer, double x, double y, double z) {
  writer.at[0] = to_ten_thousandths(x);
  writer.at[1] = to_ten_thousandths(y);
  writer.at[2] = to_ten_thousandths(z);
}

static int format_line_number(long value, char* out) {
  char digits[24];
  int n = 0;
  unsigned long magnitude = value < 0 ? 0 : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

bool write_motion(job_writer& writer, bool rapid, double x, double y, double z, long first_line,
                  long last_line) {
  const long long target[3] = {to_ten_thousandths(x), to_ten_thousandths(y), to_ten_thousandths(z)};
  if (target[0] == writer.at[0] && target[1] == writer.at[1] && target[2] == writer.at[2])
    return false;
  char line[160];
  std::memcpy(line, rapid ? "G00" : "G01", 3);
  int length = 3;
  const char* const letters = axis_letters;
  for (int axis = 0; axis < 3; ++axis) {
    if (target[axis] == writer.at[axis]) continue;
    line[length++] = ' ';
    line[length++] = letters[axis];
    length += format_ten_thousandths(target[axis], line + length);
    writer.at[axis] = target[axis];
  }
  // The input line it came from, so that a message of millrun leads back
  // to the CAM program's own line.
  std::memcpy(line + length, first_line == last_line ? " (line " : " (lines ",
              first_line == last_line ? 7 : 8);
  length += first_line == last_line ? 7 : 8;
  length += format_line_number(first_line, line + length);
  if (first_line != last_line) {
    line[length++] = '-';
    length += format_line_number(last_line, line + length);
  }
  line[length++] = ')';
  line[length++] = '\n';
  for (int axis = 0; axis < 3; ++axis) {
    if (!writer.moved || target[axis] < writer.least[axis]) writer.least[axis] = target[axis];
    if (!writer.moved || target[axis] > writer.most[axis]) writer.most[axis] = target[axis];
  }
  writer.moved = true;
  ++writer.motion_lines;
  if (writer.file) std::fwrite(line, 1, static_cast<size_t>(length), writer.file);
  return true;
}

void write_dwell(job_writer& writer, unsigned long milliseconds) {
  if (writer.file) std::fprintf(writer.file, "G04 P%lu\n", milliseconds);
}

void write_text_line(job_writer& writer, const char* text) {
  if (!writer.file) return;
  std::fputs(text, writer.file);
  std::fputc('\n', writer.file);
}
