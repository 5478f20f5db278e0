// The geometry of the toolpath picture: the inch ranges each view shows,
// the tick steps of their grids, where the top view, the side view and the
// key go, and how inches on two axes become picture coordinates. Pure
// computations: the toolpath in, numbers out.
#pragma once

#include <cstdint>

#include "preview/toolpath.h"

/// The inch position of a move's end or start on an axis of `path`.
struct inch_projector {
  const toolpath& path;
  double in(int32_t steps, int axis) const { return steps_to_inches(steps, path.scales[axis]); }
};

/// The values a view shows along one direction; empty until the first add.
struct shown_range {
  double low = 0.0, high = 0.0;
  bool empty = true;
  void add(double v);
  double span() const { return high - low; }
  /// Widens to at least `span_wanted`, around the middle.
  void widen_to(double span_wanted);
  void pad(double amount);
};

/// A tick step of 1, 2 or 5 times a power of ten that gives about `count`
/// ticks over `span`.
double tick_step(double span, int count);

/// The decimals a tick label needs to show `step` exactly (at most four).
int tick_decimals(double step);

/// A view: inches on two axes to picture coordinates (y grows downwards).
struct plot_view {
  double left, top, width, height;   // the plot area
  shown_range horizontal, vertical;  // inches shown
  double px_h, px_v;                 // pixels per inch
  double x(double inches) const { return left + (inches - horizontal.low) * px_h; }
  double y(double inches) const { return top + (vertical.high - inches) * px_v; }
};

/// Where everything goes: the ranges shown, the two views, the key.
struct picture_layout {
  shown_range depths;  // Z at the ends of the moves, for the colours
  plot_view top{}, side{};
  double key_left = 0.0, width = 0.0, height = 0.0;
};

/// The top view with equal scales on the left, the side view (X against Z)
/// under it on the same X scale, the key on the right.
picture_layout lay_out_picture(const toolpath& path);
