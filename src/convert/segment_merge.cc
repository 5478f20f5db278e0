#include "convert/segment_merge.h"

#include <algorithm>
#include <cmath>

double distance_to_segment(const point3& p, const point3& a, const point3& b) {
  double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
  double px = p.x - a.x, py = p.y - a.y, pz = p.z - a.z;
  double length2 = dx * dx + dy * dy + dz * dz;
  double t = length2 > 0 ? std::clamp((px * dx + py * dy + pz * dz) / length2, 0.0, 1.0) : 0.0;
  return std::sqrt((px - t * dx) * (px - t * dx) + (py - t * dy) * (py - t * dy) +
                   (pz - t * dz) * (pz - t * dz));
}

bool run_extends_to(const merge_run& run, const point3& to, double budget, double& worst) {
  if (!run.open || run.join_count >= merge_run::max_joins) return false;
  worst = distance_to_segment(run.end, run.start, to);
  if (worst > budget) return false;
  for (int i = 0; i < run.join_count; ++i) {
    double d = distance_to_segment(run.joins[i], run.start, to);
    if (d > budget) return false;
    worst = std::max(worst, d);
  }
  return true;
}

void extend_run(merge_run& run, const point3& to, long line, double worst) {
  run.joins[run.join_count++] = run.end;
  run.end = to;
  run.last_line = line;
  run.deviation = worst;
}

void begin_run(merge_run& run, const point3& from, const point3& to, long line) {
  run.open = true;
  run.start = from;
  run.end = to;
  run.join_count = 0;
  run.first_line = run.last_line = line;
  run.deviation = 0;
}
