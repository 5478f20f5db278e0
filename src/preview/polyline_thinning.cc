#include "preview/polyline_thinning.h"

void polyline_thinner::start(grid_point p, std::vector<grid_point>& out) {
  out_ = &out;
  out.clear();
  out.push_back(p);
  anchor_ = p;
  in_run_ = false;
}

void polyline_thinner::begin_run(grid_point p) {
  dx_ = int64_t{p.x} - anchor_.x;
  dy_ = int64_t{p.y} - anchor_.y;
  low_ = high_ = along{anchor_, 0};
  in_run_ = true;
  note(p);
}

void polyline_thinner::note(grid_point p) {
  const along a{p, (int64_t{p.x} - anchor_.x) * dx_ + (int64_t{p.y} - anchor_.y) * dy_};
  if (a.t < low_.t) low_ = a;
  if (a.t > high_.t) high_ = a;
  last_ = a;
}

void polyline_thinner::add(grid_point p) {
  if (!out_) return;
  if (p == (in_run_ ? last_.point : anchor_)) return;
  if (!in_run_) {
    begin_run(p);
    return;
  }
  // Exactly on the run's line (integer cross product): the run takes it.
  const int64_t cross = dx_ * (int64_t{p.y} - anchor_.y) - dy_ * (int64_t{p.x} - anchor_.x);
  if (cross == 0) {
    note(p);
    return;
  }
  flush_run();
  begin_run(p);
}

void polyline_thinner::flush_run() {
  if (!in_run_) return;
  // The run covers its line from `low_` to `high_`, the anchor between them;
  // going out to each extreme once and then to where the run ended covers
  // the same cells.
  if (low_.t < 0 && last_.t != low_.t) out_->push_back(low_.point);
  if (high_.t > 0 && last_.t != high_.t) out_->push_back(high_.point);
  out_->push_back(last_.point);
  anchor_ = last_.point;
  in_run_ = false;
}

void polyline_thinner::finish() {
  if (out_) flush_run();
}
