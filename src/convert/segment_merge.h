// Merging consecutive feed moves that lie along one straight line, as the
// naive-CAM detector of a CNC controller does: many tiny segments become
// one command each time their joins stay within the tolerance of the line
// from the first start to the last end.
#pragma once

struct point3 {
  double x = 0, y = 0, z = 0;
};

/// Distance from `p` to the segment from `a` to `b`.
double distance_to_segment(const point3& p, const point3& a, const point3& b);

/// A run of feed moves not yet written: from `start` through the joins to
/// `end`. The joins are kept in a fixed array, so memory stays flat; a full
/// run is written and a new one begun.
struct merge_run {
  static constexpr int max_joins = 48;
  bool open = false;
  point3 start, end;
  point3 joins[max_joins];
  int join_count = 0;
  long first_line = 0, last_line = 0;
  double deviation = 0;  // the largest distance of a join from the line
};

/// Whether the run, extended to `to`, still has every join (the present
/// end included) within `budget` of the line from its start to `to`. On
/// true `worst` receives the largest such distance.
bool run_extends_to(const merge_run& run, const point3& to, double budget, double& worst);

/// Extends the run to `to` (after run_extends_to said yes).
void extend_run(merge_run& run, const point3& to, long line, double worst);

/// Begins a run of one move.
void begin_run(merge_run& run, const point3& from, const point3& to, long line);
