#include "convert/arc_chords.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
// Rounding in the arc's plane: half a unit on each of two axes.
constexpr double plane_rounding = 0.0000708;

// Half the angle of a chord with its ends on a circle of radius r whose
// sagitta is s.
double half_angle(double s, double r) {
  if (s <= 0) return 0;
  return std::acos(std::max(-1.0, 1.0 - s / r));
}

// The sweep from angle `from` to angle `to` in the given direction, in
// (0, 2 pi]; an end at the start is a full circle.
double sweep_between(double from, double to, bool clockwise, bool full) {
  if (full) return clockwise ? -2 * pi : 2 * pi;
  double d = to - from;
  if (clockwise) {
    while (d >= 0) d -= 2 * pi;
    while (d < -2 * pi) d += 2 * pi;
  } else {
    while (d <= 0) d += 2 * pi;
    while (d > 2 * pi) d -= 2 * pi;
  }
  return d;
}

void add_turns(arc_path& arc, bool clockwise, int turns) {
  if (turns > 1) arc.sweep += (clockwise ? -2 * pi : 2 * pi) * (turns - 1);
}

}  // namespace

double arc_end_allowance(double radius) { return std::max(0.0005, 0.001 * std::fabs(radius)); }

arc_fault arc_from_center(double a0, double b0, double c0, double a1, double b1, double c1,
                          double center_a, double center_b, bool clockwise, int turns,
                          arc_path& arc, double& off_by) {
  arc = arc_path{};
  double r0 = std::hypot(a0 - center_a, b0 - center_b);
  double r1 = std::hypot(a1 - center_a, b1 - center_b);
  off_by = r1 - r0;
  if (r0 < 1e-9) return arc_fault::zero_radius;
  if (std::fabs(off_by) > arc_end_allowance(r0)) return arc_fault::end_off_circle;
  arc.center_a = center_a;
  arc.center_b = center_b;
  arc.start_radius = r0;
  arc.end_radius = r1;
  arc.start_c = c0;
  arc.end_c = c1;
  arc.start_angle = std::atan2(b0 - center_b, a0 - center_a);
  // NOTE: an end within a ten-millionth of an inch of the start is a full
  // circle; CAM programs write full circles with the end equal to the start.
  bool full = std::hypot(a1 - a0, b1 - b0) < 1e-7;
  arc.sweep =
      sweep_between(arc.start_angle, std::atan2(b1 - center_b, a1 - center_a), clockwise, full);
  add_turns(arc, clockwise, turns);
  return arc_fault::none;
}

arc_fault arc_from_radius(double a0, double b0, double c0, double a1, double b1, double c1,
                          double radius, bool clockwise, int turns, arc_path& arc, double& off_by) {
  arc = arc_path{};
  off_by = 0;
  double da = a1 - a0, db = b1 - b0;
  double chord = std::hypot(da, db);
  double r = std::fabs(radius);
  if (chord < 1e-7) return arc_fault::radius_full_circle;
  if (r < 1e-9) return arc_fault::zero_radius;
  double h2 = r * r - chord * chord / 4;
  if (h2 < 0) {
    off_by = chord / 2 - r;
    if (off_by > arc_end_allowance(r)) return arc_fault::radius_too_small;
    h2 = 0;
  }
  double h = std::sqrt(h2);
  double ma = (a0 + a1) / 2, mb = (b0 + b1) / 2;
  // The centre stands on the perpendicular through the chord's middle; of
  // its two places, a positive radius takes the one that makes the short
  // way round, a negative radius the long way.
  double ua = -db / chord, ub = da / chord;
  arc_path candidates[2];
  for (int k = 0; k < 2; ++k) {
    double side = k == 0 ? -1.0 : 1.0;
    double unused = 0;
    arc_from_center(a0, b0, c0, a1, b1, c1, ma + side * h * ua, mb + side * h * ub, clockwise, 1,
                    candidates[k], unused);
  }
  bool first_long = std::fabs(candidates[0].sweep) > pi + 1e-12;
  arc_path best = candidates[first_long == (radius < 0) ? 0 : 1];
  // The centre sits on the chord's perpendicular, so both ends are at the
  // same distance; a half circle takes the radius it was given.
  best.start_radius = best.end_radius = std::max(r, chord / 2);
  arc = best;
  add_turns(arc, clockwise, turns);
  return arc_fault::none;
}

int least_chord_count(double sweep, double radius, double tolerance) {
  double step = 2 * half_angle(tolerance, radius);
  if (step <= 0) return 0;
  return std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / step - 1e-12)));
}

chord_plan plan_chords(const arc_path& arc, double tolerance) {
  chord_plan plan;
  double sweep = std::fabs(arc.sweep);
  double r = std::max(arc.start_radius, arc.end_radius);
  // The end chords: one end is the arc's own end point, rounded, which can
  // move it toward the centre and widen the chord's angle a little; that
  // comes off their share.
  double end_half = half_angle(tolerance, r);
  end_half = half_angle(tolerance - plane_rounding * (1.15 + std::sin(end_half)), r);
  // The inner chords: their vertices stand `outward` beyond the circle,
  // which covers rounding toward the centre; what is left is the small
  // widening of the chord's angle that rounding along the arc can cause.
  plan.outward = rounding_reach;
  double inner_half = half_angle(tolerance, r);
  double widening = std::sin(inner_half) * plane_rounding -
                    (plan.outward - plane_rounding) * std::cos(inner_half);
  if (widening > 0) inner_half = half_angle(tolerance - widening, r);
  if (sweep <= 2 * end_half || end_half <= 0) {
    plan.count = end_half <= 0 ? std::max(1, least_chord_count(sweep, r, tolerance)) : 1;
    plan.end_angle = plan.inner_angle = sweep / plan.count;
    plan.outward = 0;
    return plan;
  }
  if (sweep <= 4 * end_half) {
    plan.count = 2;
    plan.end_angle = plan.inner_angle = sweep / 2;
    return plan;
  }
  int inner = static_cast<int>(std::ceil((sweep - 4 * end_half) / (2 * inner_half) - 1e-12));
  plan.count = inner + 2;
  // Every chord shrinks in proportion so that the chain ends on the arc's end.
  double scale = sweep / (4 * end_half + inner * 2 * inner_half);
  plan.end_angle = 2 * end_half * scale;
  plan.inner_angle = 2 * inner_half * scale;
  return plan;
}

void chord_vertex(const arc_path& arc, const chord_plan& plan, int i, double& a, double& b,
                  double& c) {
  double sweep = std::fabs(arc.sweep);
  double along;
  if (i <= 0)
    along = 0;
  else if (i >= plan.count)
    along = sweep;
  else if (plan.count <= 2)
    along = sweep * i / plan.count;
  else
    along = plan.end_angle + (i - 1) * plan.inner_angle;
  double at = sweep > 0 ? along / sweep : 0;
  double radius = arc.start_radius + (arc.end_radius - arc.start_radius) * at;
  if (i > 0 && i < plan.count) radius += plan.outward;
  double angle = arc.start_angle + (arc.sweep < 0 ? -along : along);
  a = arc.center_a + radius * std::cos(angle);
  b = arc.center_b + radius * std::sin(angle);
  c = arc.start_c + (arc.end_c - arc.start_c) * at;
}

double chord_deviation(const arc_path& arc, double at, double a0, double b0, double a1, double b1) {
  double radius = arc.start_radius + (arc.end_radius - arc.start_radius) * at;
  double pa = a0 - arc.center_a, pb = b0 - arc.center_b;
  double qa = a1 - arc.center_a, qb = b1 - arc.center_b;
  double outward = std::max(std::hypot(pa, pb), std::hypot(qa, qb)) - radius;
  // The chord's nearest point to the centre.
  double da = qa - pa, db = qb - pb;
  double length2 = da * da + db * db;
  double t = length2 > 0 ? std::clamp(-(pa * da + pb * db) / length2, 0.0, 1.0) : 0.0;
  double inward = radius - std::hypot(pa + t * da, pb + t * db);
  return std::max({outward, inward, 0.0});
}
