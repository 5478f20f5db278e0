// Writing the converted job in millrun's dialect: motion lines with the
// axes that change, in the order X, Y, Z, four decimals; dwells; comment
// lines; lines millrun ignores. Coordinates are machine inches (shifted).
#pragma once

#include <cstdio>

struct job_writer {
  std::FILE* file = nullptr;    // null: count and measure only
  long long at[3] = {0, 0, 0};  // the last position written, in 0.0001 in
  long long least[3] = {0, 0, 0};
  long long most[3] = {0, 0, 0};
  bool moved = false;  // `least` and `most` hold a target
  long motion_lines = 0;
};

/// Sets the position millrun stands at when the part begins (its home).
void writer_begin_at(job_writer& writer, double x, double y, double z);

/// Rounds inches to 0.0001 in.
long long to_ten_thousandths(double inches);

/// Writes "G00 " (rapid) or "G01 " and the axes whose rounded value
/// changes, then "(line N)" or "(lines N-M)". Returns false, writing
/// nothing, when no axis changes.
bool write_motion(job_writer& writer, bool rapid, double x, double y, double z, long first_line,
                  long last_line);

/// "G04 P<ms>".
void write_dwell(job_writer& writer, unsigned long milliseconds);

/// One line as it is; the caller makes sure it is in the dialect.
void write_text_line(job_writer& writer, const char* text);

/// Formats 0.0001-in units as a decimal with four places ("-0.5000"); never
/// "-0.0000". Returns the length written into `out` (at least 24 bytes).
int format_ten_thousandths(long long value, char* out);
