// Arcs as chains of chords. An arc is described in its own plane: the two
// in-plane axes a and b, and the axis c across the plane along which a
// helical arc climbs. Everything here is pure: it takes the arc and the
// tolerance and returns points.
#pragma once

/// Output coordinates are rounded to 0.0001 in; a rounded point lies at
/// most this far from the exact one (half a unit on each of three axes).
constexpr double rounding_reach = 0.0000867;

struct arc_path {
  double center_a = 0, center_b = 0;
  double start_angle = 0;
  double sweep = 0;  // radians, positive counter-clockwise in the (a, b) plane
  double start_radius = 0, end_radius = 0;
  double start_c = 0, end_c = 0;
};

enum class arc_fault { none, zero_radius, end_off_circle, radius_too_small, radius_full_circle };

/// The largest distance between an arc's end point and its circle that is
/// taken as CAM rounding: 0.0005 in or 0.1 % of the radius, the larger.
double arc_end_allowance(double radius);

/// An arc given by its centre (the I/J/K form). `turns` >= 1 adds full
/// circles; an end point equal to the start is a full circle. `off_by`
/// receives the difference of the end's and the start's distance from the
/// centre.
arc_fault arc_from_center(double a0, double b0, double c0, double a1, double b1, double c1,
                          double center_a, double center_b, bool clockwise, int turns,
                          arc_path& arc, double& off_by);

/// An arc given by its radius (the R form): a negative radius takes the long
/// way round. A chord a little longer than the diameter, within the end
/// allowance, is taken as a half circle.
arc_fault arc_from_radius(double a0, double b0, double c0, double a1, double b1, double c1,
                          double radius, bool clockwise, int turns, arc_path& arc, double& off_by);

/// The least number of chords with their ends on the arc whose sagitta
/// stays within `tolerance`: ceil(sweep / (2 acos(1 - tolerance / radius))).
int least_chord_count(double sweep, double radius, double tolerance);

/// How an arc is cut into chords. The chords next to the arc's exact end
/// points get a smaller share of the tolerance, the inner ones nearly all
/// of it, and the inner vertices stand `outward` beyond the circle, so that
/// rounding the vertices to 0.0001 in never carries a chord outside the
/// tolerance. The count stays within one of the least count.
struct chord_plan {
  int count = 1;
  double end_angle = 0;    // the angle of each end chord
  double inner_angle = 0;  // the angle of each inner chord
  double outward = 0;
};

chord_plan plan_chords(const arc_path& arc, double tolerance);

/// Vertex `i` of the plan (0 the start, plan.count the end).
void chord_vertex(const arc_path& arc, const chord_plan& plan, int i, double& a, double& b,
                  double& c);

/// The largest distance, in the arc's plane, between the chord from
/// (a0, b0) to (a1, b1) and the arc's circle, the radius taken at fraction
/// `at` of the sweep. Used to report the deviation actually written.
double chord_deviation(const arc_path& arc, double at, double a0, double b0, double a1, double b1);
