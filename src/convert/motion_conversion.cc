#include "convert/motion_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "convert/arc_chords.h"
#include "convert/convert_messages.h"
#include "convert/job_coordinates.h"
#include "convert/job_output.h"

namespace {

// ---------------------------------------------------------------------------
// Arcs

// The P word of an arc counts its turns: a whole number from 1.
bool read_arc_turns(convert_state& state, const gcode_block& block, long number,
                    const std::string& text, int& turns) {
  if (!block_has(block, 'P')) return true;
  double p = block_value(block, 'P');
  if (p < 1 || p != std::floor(p) || p > 10000)
    return refuse_line(state, number, text,
                       "the P word of an arc counts its turns and must be a whole number from 1");
  turns = static_cast<int>(p);
  return true;
}

bool refuse_arc_fault(convert_state& state, long number, const std::string& text, arc_fault fault,
                      const arc_path& arc, double off_by) {
  char why[200];
  switch (fault) {
    case arc_fault::none:
      break;
    case arc_fault::zero_radius:
      return refuse_line(state, number, text, "the arc's radius is zero");
    case arc_fault::end_off_circle:
      std::snprintf(
          why, sizeof why,
          "the arc's end point is %.4f in off its circle (at most %.4f in is taken as rounding)",
          std::fabs(off_by), arc_end_allowance(arc.start_radius > 0 ? arc.start_radius : 0));
      return refuse_line(state, number, text, why);
    case arc_fault::radius_too_small:
      std::snprintf(why, sizeof why, "the arc's radius is %.4f in too small to reach its end point",
                    std::fabs(off_by));
      return refuse_line(state, number, text, why);
    case arc_fault::radius_full_circle:
      return refuse_line(
          state, number, text,
          "an arc in the R form cannot end where it starts: its centre is not known; use I, J, K");
  }
  return true;
}

// The arc in its plane, from the R form or from its centre (I, J, K).
bool describe_arc(convert_state& state, const gcode_block& block, long number,
                  const std::string& text, const int axes[3], const point3& start,
                  const point3& end, int turns, arc_path& arc) {
  double scale = unit_scale(state);
  bool clockwise = state.motion == 2;
  double a0 = point_axis(start, axes[0]), b0 = point_axis(start, axes[1]),
         c0 = point_axis(start, axes[2]);
  double a1 = point_axis(end, axes[0]), b1 = point_axis(end, axes[1]),
         c1 = point_axis(end, axes[2]);
  static const char offset_letters[3] = {'I', 'J', 'K'};
  char la = offset_letters[axes[0]], lb = offset_letters[axes[1]];
  double off_by = 0;
  arc_fault fault;
  if (block_has(block, 'R')) {
    fault = arc_from_radius(a0, b0, c0, a1, b1, c1, block_value(block, 'R') * scale, clockwise,
                            turns, arc, off_by);
  } else if (block_has(block, la) || block_has(block, lb)) {
    double ca = block_value(block, la) * scale, cb = block_value(block, lb) * scale;
    if (!state.arc_centers_absolute) ca += a0, cb += b0;
    fault = arc_from_center(a0, b0, c0, a1, b1, c1, ca, cb, clockwise, turns, arc, off_by);
  } else {
    return refuse_line(state, number, text,
                       std::string("an arc needs its centre (") + la + " and " + lb +
                           " in this plane) or a radius R");
  }
  return refuse_arc_fault(state, number, text, fault, arc, off_by);
}

// The deviation as written: the chord between the rounded points, the
// radius taken at the chord's middle.
double written_deviation(const convert_state& state, const arc_path& arc, const chord_plan& plan,
                         int i, const int axes[3], const point3& from, const point3& to) {
  point3 mf = to_machine(state, from), mt = to_machine(state, to);
  double shift_a = state.shift[axes[0]], shift_b = state.shift[axes[1]];
  double fa = to_ten_thousandths(point_axis(mf, axes[0])) / 10000.0 - shift_a;
  double fb = to_ten_thousandths(point_axis(mf, axes[1])) / 10000.0 - shift_b;
  double ta = to_ten_thousandths(point_axis(mt, axes[0])) / 10000.0 - shift_a;
  double tb = to_ten_thousandths(point_axis(mt, axes[1])) / 10000.0 - shift_b;
  double along = std::fabs(arc.sweep) > 0 ? (i - 0.5) / plan.count : 0;
  return chord_deviation(arc, along, fa, fb, ta, tb);
}

// The chords from `start`, each a feed move of its own (never merged); the
// last ends exactly at the arc's end point.
void write_chords(convert_state& state, const arc_path& arc, const chord_plan& plan,
                  const int axes[3], const point3& start, const point3& end, long number) {
  point3 from = start;
  for (int i = 1; i <= plan.count; ++i) {
    point3 to;
    if (i == plan.count) {
      to = end;
    } else {
      double a, b, c;
      chord_vertex(arc, plan, i, a, b, c);
      point_axis(to, axes[0]) = a;
      point_axis(to, axes[1]) = b;
      point_axis(to, axes[2]) = c;
    }
    note_deviation(state, written_deviation(state, arc, plan, i, axes, from, to));
    note_fit_extent(state, to);
    write_point(state, false, to, number, number);
    from = to;
  }
}

// Every point of the arc, not only its ends, within the coordinate limit:
// the ends, and where the circle crosses its axes within the sweep.
bool check_arc_range(convert_state& state, long number, const std::string& text,
                     const arc_path& arc) {
  double r = std::max(arc.start_radius, arc.end_radius);
  double reach_a = std::fabs(arc.center_a) + r, reach_b = std::fabs(arc.center_b) + r;
  if (!(reach_a <= largest_coordinate && reach_b <= largest_coordinate)) {
    double lo = std::min(arc.start_angle, arc.start_angle + arc.sweep);
    double hi = std::max(arc.start_angle, arc.start_angle + arc.sweep);
    const double quarter = std::acos(0.0);
    double worst_a = 0, worst_b = 0;
    for (double k = std::ceil(lo / quarter); k * quarter <= hi && k - std::ceil(lo / quarter) < 8;
         k += 1) {
      worst_a = std::max(worst_a, std::fabs(arc.center_a + r * std::cos(k * quarter)));
      worst_b = std::max(worst_b, std::fabs(arc.center_b + r * std::sin(k * quarter)));
    }
    if (!(worst_a <= largest_coordinate && worst_b <= largest_coordinate))
      return refuse_line(state, number, text, "the arc passes more than 100000 in from the origin");
  }
  return true;
}

bool convert_arc(convert_state& state, const gcode_block& block, long number,
                 const std::string& text) {
  int axes[3];
  plane_axes(state.plane, axes);
  point3 start = state.position;
  point3 end = target_of(state, block);
  if (!check_range(state, number, text, end)) return false;
  int turns = 1;
  if (!read_arc_turns(state, block, number, text, turns)) return false;
  arc_path arc;
  if (!describe_arc(state, block, number, text, axes, start, end, turns, arc)) return false;
  if (!check_arc_range(state, number, text, arc)) return false;
  if (!take_pending_break(state) || !before_output(state)) return false;
  chord_plan plan = plan_chords(arc, state.options->tolerance);
  ++state.totals.arcs;
  if (!check_line_count(state, number, text, plan.count,
                        "give a larger --tolerance, or fewer turns (P)"))
    return false;
  write_chords(state, arc, plan, axes, start, end, number);
  state.position = end;
  note_cut(state);
  return true;
}

// ---------------------------------------------------------------------------
// Drilling cycles

// The cycle's words: R, Z, Q and P stay in effect for the holes that follow.
void read_cycle_words(convert_state& state, const gcode_block& block) {
  double scale = unit_scale(state);
  drill_cycle& cycle = state.cycle;
  cycle.code = state.motion;
  if (block_has(block, 'R')) {
    double r = block_value(block, 'R') * scale;
    cycle.r_level = state.absolute ? r : state.position.z + r;
    state.cycle_has_r = true;
  }
  if (block_has(block, 'Z')) {
    double z = block_value(block, 'Z') * scale;
    cycle.bottom = state.absolute ? z : cycle.r_level + z;
    state.cycle_has_z = true;
  }
  if (block_has(block, 'Q')) cycle.peck = std::fabs(block_value(block, 'Q')) * scale;
  if (block_has(block, 'P'))
    cycle.dwell_ms = block_value(block, 'P') * (state.options->dwell_in_ms ? 1 : 1000);
}

bool check_cycle(convert_state& state, long number, const std::string& text) {
  const drill_cycle& cycle = state.cycle;
  if (!state.cycle_has_r || !state.cycle_has_z)
    return refuse_line(state, number, text, "a drilling cycle needs its R level and its Z depth");
  if ((cycle.code == 73 || cycle.code == 83) && cycle.peck <= 0)
    return refuse_line(state, number, text,
                       "a pecking cycle (G73, G83) needs a peck depth Q above 0");
  if (cycle.bottom >= cycle.r_level)
    return refuse_line(state, number, text, "the cycle's depth Z is not below its R level");
  if (cycle.dwell_ms < 0 || cycle.dwell_ms > 4294967295.0)
    return refuse_line(state, number, text,
                       "the dwell P is negative or longer than millrun can wait");
  return true;
}

// The hole's X and Y (absolute or incremental) at the cycle's depth.
point3 hole_of(const convert_state& state, const gcode_block& block) {
  double scale = unit_scale(state);
  point3 hole = state.position;
  if (block_has(block, 'X'))
    hole.x =
        state.absolute ? block_value(block, 'X') * scale : hole.x + block_value(block, 'X') * scale;
  if (block_has(block, 'Y'))
    hole.y =
        state.absolute ? block_value(block, 'Y') * scale : hole.y + block_value(block, 'Y') * scale;
  hole.z = state.cycle.bottom;
  return hole;
}

bool drill_hole(convert_state& state, const point3& hole, long number) {
  bool ok = true;
  expand_drill_cycle(state.cycle, state.position.z, [&](const cycle_step& step) {
    if (!ok) return;
    point3 to = state.position;
    switch (step.what) {
      case cycle_step::rapid_xy:
        to.x = hole.x;
        to.y = hole.y;
        ok = emit_move(state, true, to, number);
        break;
      case cycle_step::rapid_z:
        to.z = step.value;
        ok = emit_move(state, true, to, number);
        break;
      case cycle_step::feed_z:
        to.z = step.value;
        ok = emit_move(state, false, to, number);
        break;
      case cycle_step::dwell:
        ok = before_output(state);
        if (ok) write_dwell(state.writer, static_cast<unsigned long>(std::llround(step.value)));
        break;
    }
  });
  return ok;
}

// A line under a cycle drills one hole when it names the cycle, a position
// or an R level; any other line leaves the cycle be.
bool convert_cycle(convert_state& state, const gcode_block& block, long number,
                   const std::string& text, bool cycle_word) {
  if (!cycle_word && !has_axis_words(block) && !block_has(block, 'R')) return true;
  if (!need_units(state, number, text)) return false;
  read_cycle_words(state, block);
  if (!check_cycle(state, number, text)) return false;
  point3 hole = hole_of(state, block);
  drill_cycle& cycle = state.cycle;
  if (!check_range(state, number, text, hole) ||
      !check_range(state, number, text, {0, 0, cycle.r_level}))
    return false;
  cycle.clear =
      state.retract_to_start ? std::max(state.cycle_start_z, cycle.r_level) : cycle.r_level;
  if (!check_line_count(state, number, text, drill_cycle_lines(cycle), "give a deeper peck (Q)"))
    return false;
  if (cycle.code == 82) warn_long_dwell(state, number, cycle.dwell_ms);
  return drill_hole(state, hole, number);
}

}  // namespace

bool convert_motion(convert_state& state, const gcode_block& block, long number,
                    const std::string& text, int motion_word) {
  bool arc_words = block_has(block, 'I') || block_has(block, 'J') || block_has(block, 'K') ||
                   block_has(block, 'R');
  if (state.motion >= 73) return convert_cycle(state, block, number, text, motion_word >= 73);
  if (!has_axis_words(block) && !(state.motion >= 2 && arc_words)) return true;
  if (state.motion < 0)
    return refuse_line(state, number, text,
                       "coordinates with no motion (G0, G1, G2, G3) in effect");
  if (!need_units(state, number, text)) return false;
  if (state.motion >= 2) return convert_arc(state, block, number, text);
  point3 to = target_of(state, block);
  if (!check_range(state, number, text, to)) return false;
  return emit_move(state, state.motion == 0, to, number);
}
