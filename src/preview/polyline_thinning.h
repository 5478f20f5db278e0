// Thinning a polyline drawn on a grid of picture cells: points that would
// add nothing a person can see are dropped as the points stream in. A pure
// computation: points in, the points worth drawing out.
#pragma once

#include <cstdint>
#include <vector>

/// A point on the picture's grid, in grid cells.
struct grid_point {
  int32_t x = 0, y = 0;
  bool operator==(const grid_point& o) const { return x == o.x && y == o.y; }
};

/// Thins one polyline as its points come: a point equal to the one before
/// is dropped, and a run of points on one straight line (back and forth
/// included) is kept only by its ends and its two extremes, which cover the
/// same cells of the grid.
class polyline_thinner {
 public:
  /// Begins a polyline at `p`; the points kept go to `out` (cleared).
  void start(grid_point p, std::vector<grid_point>& out);
  void add(grid_point p);
  /// Writes what is still held back; the polyline ends at its last point.
  void finish();

 private:
  struct along {
    grid_point point;
    int64_t t = 0;  // position along the run's direction
  };
  void begin_run(grid_point p);
  void note(grid_point p);
  void flush_run();

  std::vector<grid_point>* out_ = nullptr;
  grid_point anchor_{};  // the last point written: where the run starts
  bool in_run_ = false;
  int64_t dx_ = 0, dy_ = 0;  // the run's direction
  along low_{}, high_{}, last_{};
};
