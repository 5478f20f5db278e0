#include "preview/preview_layout.h"

#include <algorithm>
#include <cmath>

void shown_range::add(double v) {
  if (empty) {
    low = high = v;
    empty = false;
  } else {
    low = std::min(low, v);
    high = std::max(high, v);
  }
}

void shown_range::widen_to(double span_wanted) {
  if (span() >= span_wanted) return;
  double middle = (low + high) / 2.0;
  low = middle - span_wanted / 2.0;
  high = middle + span_wanted / 2.0;
}

void shown_range::pad(double amount) {
  low -= amount;
  high += amount;
}

double tick_step(double span, int count) {
  if (!(span > 0.0)) return 1.0;
  double raw = span / count;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  double unit = raw / power;
  double step = unit < 1.5 ? 1.0 : unit < 3.5 ? 2.0 : unit < 7.5 ? 5.0 : 10.0;
  return step * power;
}

int tick_decimals(double step) {
  int decimals = 0;
  while (decimals < 4 && std::fabs(step * std::pow(10.0, decimals) -
                                   std::round(step * std::pow(10.0, decimals))) > 1e-6)
    ++decimals;
  return decimals;
}

namespace {

struct shown_ranges {
  shown_range xs, ys, zs;  // inches shown on each axis
  shown_range depths;      // Z at the ends of the moves
};

/// What is shown: the moves, the envelope and home.
shown_ranges ranges_of(const toolpath& path) {
  const inch_projector p{path};
  shown_ranges r;
  r.xs.add(0.0);
  r.ys.add(0.0);
  r.zs.add(p.in(path.home[axis_z], axis_z));
  if (path.homed) {
    for (int i = 0; i < 2; ++i) {
      int32_t corner[axis_count];
      for (int a = 0; a < axis_count; ++a)
        corner[a] = i == 0 ? path.envelope_min[a] : path.envelope_max[a];
      r.xs.add(p.in(corner[axis_x], axis_x));
      r.ys.add(p.in(corner[axis_y], axis_y));
      r.zs.add(p.in(corner[axis_z], axis_z));
    }
  }
  for (const toolpath_move& m : path.moves) {
    for (const int32_t* point : {m.from, m.to}) {
      r.xs.add(p.in(point[axis_x], axis_x));
      r.ys.add(p.in(point[axis_y], axis_y));
      r.zs.add(p.in(point[axis_z], axis_z));
    }
    r.depths.add(p.in(m.to[axis_z], axis_z));
  }
  if (r.depths.empty) r.depths.add(p.in(path.home[axis_z], axis_z));
  return r;
}

/// The margins around what is shown.
void add_margins(shown_ranges& r) {
  // A quarter inch at least, so that a job of nothing or next to nothing
  // is still shown at a scale a person can read.
  double larger = std::max({r.xs.span(), r.ys.span(), 0.25});
  r.xs.widen_to(std::max(larger * 0.3, 0.25));
  r.ys.widen_to(std::max(larger * 0.3, 0.25));
  r.xs.pad(larger * 0.06);
  r.ys.pad(larger * 0.06);
  r.zs.widen_to(std::max(r.zs.span(), 0.1));
  // Room above the top of Z travel for its label and the home marker.
  const double z_span = r.zs.span();
  r.zs.low -= z_span * 0.08;
  r.zs.high += z_span * 0.22;
}

}  // namespace

picture_layout lay_out_picture(const toolpath& path) {
  shown_ranges r = ranges_of(path);
  add_margins(r);
  const shown_range& xs = r.xs;
  const shown_range& ys = r.ys;
  const shown_range& zs = r.zs;

  const double margin = 28, key_width = 300, plot_left = margin + 58;
  const double max_plot_width = 660, max_plot_height = 540;
  const double ppi = std::min(max_plot_width / xs.span(), max_plot_height / ys.span());
  plot_view top{plot_left, 96, xs.span() * ppi, ys.span() * ppi, xs, ys, ppi, ppi};
  double z_ppi = std::clamp(ppi, 170.0 / zs.span(), 260.0 / zs.span());
  plot_view side{plot_left, top.top + top.height + 78, top.width, zs.span() * z_ppi, xs, zs, ppi,
                 z_ppi};
  const double key_left = plot_left + std::max(top.width, 430.0) + 48;

  picture_layout layout;
  layout.depths = r.depths;
  layout.top = top;
  layout.side = side;
  layout.key_left = key_left;
  layout.width = key_left + key_width + margin;
  layout.height = std::max(side.top + side.height + 64, 700.0);
  return layout;
}
