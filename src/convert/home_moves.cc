#include "convert/home_moves.h"

#include "common/machine_defaults.h"
#include "convert/job_coordinates.h"
#include "convert/job_output.h"

bool convert_home_move(convert_state& state, const gcode_block& block, long number,
                       const std::string& text, bool home_word, bool machine) {
  if (!ensure_part(state)) return false;
  point3 home = home_point(state);
  if (!has_axis_words(block)) {
    if (machine) return true;
    // Z rises first, then X and Y.
    point3 up = state.position;
    up.z = home.z;
    return emit_move(state, true, up, number, true) && emit_move(state, true, home, number, true);
  }
  if (!need_units(state, number, text)) return false;
  point3 to = state.position;
  const char* const letters = axis_letters;
  if (home_word) {
    point3 through = target_of(state, block);
    if (!check_range(state, number, text, through) || !emit_move(state, true, through, number))
      return false;
    to = through;
    for (int axis = 0; axis < 3; ++axis)
      if (block_has(block, letters[axis])) point_axis(to, axis) = point_axis(home, axis);
  } else {
    // G53: machine coordinates measured from millrun's home.
    for (int axis = 0; axis < 3; ++axis)
      if (block_has(block, letters[axis]))
        point_axis(to, axis) =
            point_axis(home, axis) + block_value(block, letters[axis]) * unit_scale(state);
    if (!check_range(state, number, text, to)) return false;
  }
  return emit_move(state, true, to, number, true);
}
