// One motion line's operands, read without the tracked position: which axes
// it names and their targets in inches, and whether the reading took every
// axis word of the text. The reading is narrow (X, Y and Z in that order, at
// most one blank apart, each followed directly by a plain number, and that
// by the line's end or, after any blanks, the letter of another word); what
// it does not take must stop the line rather than be dropped in silence.
#pragma once

#include <cstddef>

#include "gcode/axis_model.h"
#include "gcode/line_filter.h"

enum class operand_reading {
  complete,  // every axis word was read
  misread,   // an axis word read is not followed directly by a plain number,
             // or its number by the line's end or another word ("X1,5", "X1 5")
  exponent,  // a number in exponent form ("X1e2"): an E directly after digits
  lost,      // an axis or G word stands where the reading had stopped
};

/// Reads the operand text of a motion line ("X1.5 Y2", "X1.5Y2 Z-0.1"). The
/// targets are those every later step uses; the verdict says whether the
/// line may run as read.
operand_reading read_motion_operands(const char* operands, motion_targets& out);

/// What a G-code line is, as one reading of its text finds it.
enum class line_kind {
  ignored,  // moves nothing and is passed over
  dwell,    // a "G04 P" dwell: waits, and moves nothing
  motion,   // a linear motion line; its operands and targets are read
  other,    // neither: a code this dialect does not know
};

/// One G-code line, read once: the comments and the N-word stripped, the
/// words outside the comments, what kind of line it is and, for a motion
/// line, its operands and targets. Classifying, composing and tracking the
/// line after a reply all take it from here.
struct line_reading {
  char* text = nullptr;  // after the N-word, without comments
  line_words words;
  line_kind kind = line_kind::other;
  unsigned dwell_ms = 0;           // a dwell's wait
  const char* operands = nullptr;  // a motion line's operand text, inside `text`
  operand_reading reading = operand_reading::complete;
  motion_targets targets;
  bool motion_word = false;  // "G0 ", "G00 ", "G1 ", "G01 ", not a continuation
  bool rapid = false;        // and that word is G0/G00
};

/// Reads a trimmed line: strips its comments in place (the N-word stays in
/// `line`, `out.text` points past it) and fills `out`. Reads only: no
/// dwell waits, nothing is tracked.
void read_gcode_line(char* line, line_reading& out);

/// Whether `text` holds an axis word outside its comments: X, Y or Z in
/// either letter case, then any blanks, then a digit, sign or point. Text
/// inside parentheses and after a ";" is comment.
bool holds_axis_word(const char* text);

/// Whether the `length` characters at `text` are a plain decimal number: an
/// optional leading minus, digits, at most one point, at least one digit.
bool is_plain_number(const char* text, size_t length);
