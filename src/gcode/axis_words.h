// The words of the controller's language that belong to one axis: the one
// table the composer, homing, recovery, the estimate, the preview and the
// test controllers take them from.
#pragma once

#include "gcode/axis_model.h"

struct axis_words {
  char name;                 // 'X' in G-code and in the scale query
  char letter;               // 'x' in xyz_linear_move_steps
  char positive;             // the direction letter of the positive way
  char negative;             // and of the negative way
  const char* move_command;  // "x_move_steps"
  const char* home_command;  // "x_home l": the negative way for X and Y, up for Z
  const char* scale_query;   // "get_native_axis_scale X"
};

inline constexpr axis_words axis_table[axis_count] = {
    {axis_letters[axis_x], 'x', 'r', 'l', "x_move_steps", "x_home l", "get_native_axis_scale X"},
    {axis_letters[axis_y], 'y', 't', 'b', "y_move_steps", "y_home b", "get_native_axis_scale Y"},
    {axis_letters[axis_z], 'z', 'u', 'd', "z_move_steps", "z_home u", "get_native_axis_scale Z"},
};
