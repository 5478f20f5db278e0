#include "convert/canned_cycle.h"

#include <algorithm>
#include <cmath>

double drill_cycle_lines(const drill_cycle& cycle) {
  if (cycle.code == 81 || cycle.code == 82 || cycle.peck <= 0) return 5;
  double pecks = std::ceil((cycle.r_level - cycle.bottom) / cycle.peck);
  return 4 + pecks + (pecks - 1) * (cycle.code == 83 ? 2 : 1);
}

void expand_drill_cycle(const drill_cycle& cycle, double current_z,
                        const std::function<void(const cycle_step&)>& emit) {
  double z = current_z;
  if (z < cycle.r_level) {
    emit({cycle_step::rapid_z, cycle.r_level});
    z = cycle.r_level;
  }
  emit({cycle_step::rapid_xy, 0});
  if (z != cycle.r_level) emit({cycle_step::rapid_z, cycle.r_level});
  if (cycle.code == 81 || cycle.code == 82 || cycle.peck <= 0) {
    emit({cycle_step::feed_z, cycle.bottom});
  } else {
    double depth = cycle.r_level;
    while (depth > cycle.bottom) {
      double next = std::max(depth - cycle.peck, cycle.bottom);
      if (next >= depth) next = cycle.bottom;  // a peck too small to change the depth
      if (depth < cycle.r_level) {
        if (cycle.code == 83) {
          // A full retract to R clears the chips, then back down short of
          // the depth already reached.
          emit({cycle_step::rapid_z, cycle.r_level});
          emit({cycle_step::rapid_z, std::min(depth + peck_clearance, cycle.r_level)});
        } else {
          emit({cycle_step::rapid_z, std::min(depth + peck_clearance, cycle.r_level)});
        }
      }
      emit({cycle_step::feed_z, next});
      depth = next;
    }
  }
  if (cycle.code == 82 && cycle.dwell_ms > 0) emit({cycle_step::dwell, cycle.dwell_ms});
  emit({cycle_step::rapid_z, cycle.clear});
}
