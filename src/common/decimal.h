// Decimal reading, used wherever a number is read from a script line or a
// reply. Every reader skips leading white space, takes an optional sign and
// the longest run of characters that forms a number, and stops at the first
// character that does not fit. Text without a number gives 0.
#pragma once

#include <cstddef>
#include <cstdint>

/// Reads a decimal number with an optional fraction and exponent. Only plain
/// decimal text is taken: no hexadecimal, no "inf" or "nan" words. A value too
/// large for a double gives plus or minus infinity; callers check the range.
double read_real(const char* text);

/// Reads at most `length` bytes of `text` the way read_real does; the number
/// never extends beyond them.
double read_real_n(const char* text, size_t length);

/// Reads a signed base-10 integer. A value beyond the 32-bit range is clamped
/// to the nearest limit. `end` (optional) receives the position where reading
/// stopped, or `text` itself when no digit was read.
int32_t read_integer(const char* text, const char** end = nullptr);

/// Reads an unsigned base-10 integer. A value beyond 32 bits is clamped to the
/// largest one; a minus sign negates modulo 2^32, as the C library does.
uint32_t read_unsigned(const char* text, const char** end = nullptr);
