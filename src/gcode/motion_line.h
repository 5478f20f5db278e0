// One motion line's operands, read without the tracked position: which axes
// it names and their targets in inches, and whether the reading took every
// axis word of the text. The reading is narrow (X, Y and Z in that order, at
// most one blank apart, each followed directly by a plain number, and that
// by the line's end or, after any blanks, the letter of another word); what
// it does not take must stop the line rather than be dropped in silence.
#pragma once

#include <cstddef>

#include "gcode/axis_model.h"

enum class operand_reading {
  complete,  // every axis word was read
  misread,   // an axis word read is not followed directly by a plain number,
             // or its number by the line's end or another word ("X1,5", "X1 5")
  exponent,  // a number in exponent form ("X1e2"): an E directly after digits
  lost,      // an axis or G word stands where the reading had stopped
};

struct motion_targets {
  bool named[axis_count] = {false, false, false};
  double target[axis_count] = {0.0, 0.0, 0.0};  // inches, where named
  const char* end = nullptr;                    // where the reading stopped
};

/// Reads the operand text of a motion line ("X1.5 Y2", "X1.5Y2 Z-0.1"). The
/// targets are those every later step uses; the verdict says whether the
/// line may run as read.
operand_reading read_motion_operands(const char* operands, motion_targets& out);

/// Whether `text` holds an axis word outside its comments: X, Y or Z in
/// either letter case, then any blanks, then a digit, sign or point. Text
/// inside parentheses and after a ";" is comment.
bool holds_axis_word(const char* text);

/// Whether the `length` characters at `text` are a plain decimal number: an
/// optional leading minus, digits, at most one point, at least one digit.
bool is_plain_number(const char* text, size_t length);
