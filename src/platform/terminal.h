// The terminal services of the status line: whether standard error is a
// terminal someone watches, how wide it is, a line redrawn in place, and a
// clock cheap enough to read for every script line. One implementation file
// per OS.
#pragma once

#include <cstddef>
#include <cstdint>

/// True when standard error is an interactive terminal (a console window on
/// Windows) and standard output does not go to that same terminal: trace
/// lines written there would tear a line that is redrawn in place.
bool platform_status_line_possible();

/// The width of the terminal standard error shows on, in columns; 0 when it
/// cannot be told.
int platform_terminal_columns();

/// Replaces the status line on standard error with `text` (no line end,
/// shorter than the terminal is wide): back to the start of the line, the
/// text, the rest of the line erased. The cursor stays at the text's end.
void platform_draw_status_line(const char* text, size_t length);

/// Erases the status line and leaves the cursor at the start of that empty
/// line, where the next message begins.
void platform_erase_status_line();

/// Writes a finished line of text (its line end included) to standard error.
void platform_write_error_line(const char* text);

/// Opens the null device on each of standard input, output and error that
/// the parent left closed, so that no file the program opens takes its
/// number (messages written to standard error would land in that file).
void platform_fill_standard_streams();

/// Sends standard output to the null device from here on: for a tool that
/// runs the translation for its own ends and has no use for its trace.
void platform_discard_standard_output();

/// Monotonic milliseconds since an arbitrary start, read from a coarse clock
/// (a few milliseconds of resolution) that costs next to nothing to read.
uint64_t platform_coarse_now_ms();
