// Drawing the station's path: millplot's layout and grid, cropped to the two
// views, and each view's line split into pieces and thinned to what a
// screen of station_svg_screen_px pixels can show.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "preview/polyline_thinning.h"
#include "preview/preview_layout.h"
#include "preview/station_toolpath.h"
#include "preview/svg_elements.h"

namespace {

/// How a view maps steps on its two axes onto the picture:
/// x = ox + kx * steps[h], y = oy + ky * steps[v].
struct view_map {
  int h, v;
  double ox, oy, kx, ky;
  double x(const int32_t* steps) const { return ox + kx * steps[h]; }
  double y(const int32_t* steps) const { return oy + ky * steps[v]; }
};

view_map map_of(const plot_view& view, const toolpath& frame, int h, int v) {
  const double h_in = steps_to_inches(1, frame.scales[h]);
  const double v_in = steps_to_inches(1, frame.scales[v]);
  return {h,
          v,
          view.left - view.horizontal.low * view.px_h,
          view.top + view.vertical.high * view.px_v,
          h_in * view.px_h,
          -v_in * view.px_v};
}

/// The frame the layout is made for: the envelope widened to every point
/// travelled, so that the whole line is inside the views.
toolpath layout_frame(const station_path& path) {
  toolpath f = path.frame;
  if (path.points.empty()) return f;
  for (int a = 0; a < axis_count; ++a) {
    int32_t low = f.homed ? f.envelope_min[a] : path.points[0].steps[a];
    int32_t high = f.homed ? f.envelope_max[a] : path.points[0].steps[a];
    for (const station_path_point& p : path.points) {
      low = std::min(low, p.steps[a]);
      high = std::max(high, p.steps[a]);
    }
    f.envelope_min[a] = low;
    f.envelope_max[a] = high;
  }
  f.homed = true;
  return f;
}

/// A coordinate on the grid, with no more digits than it needs.
void append_coordinate(std::string& out, double value) {
  char text[32];
  int length = std::snprintf(text, sizeof text, "%.2f", value);
  while (length > 0 && text[length - 1] == '0') --length;
  if (length > 0 && text[length - 1] == '.') --length;
  if (length == 2 && text[0] == '-' && text[1] == '0') {
    text[0] = '0';
    length = 1;
  }
  out.append(text, static_cast<size_t>(length));
}

grid_point cell_of(const view_map& m, const station_path_point& p, double cell) {
  auto to_cell = [cell](double v) {
    return static_cast<int32_t>(std::lround(std::clamp(v / cell, -1e9, 1e9)));
  };
  return {to_cell(m.x(p.steps)), to_cell(m.y(p.steps))};
}

/// A segment between two cells, its ends in a fixed order: a line drawn
/// again (the next pass of a pocket, seen from above) is left out.
struct drawn_segment {
  grid_point a, b;
  bool operator==(const drawn_segment& o) const { return a == o.a && b == o.b; }
};

struct segment_hash {
  size_t operator()(const drawn_segment& s) const {
    uint64_t h = 1469598103934665603ull;
    for (int32_t v : {s.a.x, s.a.y, s.b.x, s.b.y})
      h = (h ^ static_cast<uint32_t>(v)) * 1099511628211ull;
    return static_cast<size_t>(h);
  }
};

using drawn_segments = std::unordered_set<drawn_segment, segment_hash>;

bool first_is_lower(const grid_point& p, const grid_point& q) {
  return p.x < q.x || (p.x == q.x && p.y < q.y);
}

/// Writes a piece's kept points as polylines marked `command`, leaving out
/// the segments drawn already (a piece that retraces them is split).
void write_piece(const std::vector<grid_point>& kept, unsigned long command, double cell,
                 drawn_segments& drawn, std::string& out) {
  bool open = false;
  for (size_t k = 0; k + 1 < kept.size(); ++k) {
    const grid_point& p = kept[k];
    const grid_point& q = kept[k + 1];
    const bool fresh =
        drawn.insert(first_is_lower(p, q) ? drawn_segment{p, q} : drawn_segment{q, p}).second;
    if (!fresh) {
      if (open) out += "\"/>\n";
      open = false;
      continue;
    }
    if (!open) {
      char head[80];
      std::snprintf(head, sizeof head, "<polyline class=\"path\" data-command=\"%lu\" points=\"",
                    command);
      out += head;
      append_coordinate(out, p.x * cell);
      out += ',';
      append_coordinate(out, p.y * cell);
      open = true;
    }
    out += ' ';
    append_coordinate(out, q.x * cell);
    out += ',';
    append_coordinate(out, q.y * cell);
  }
  if (open) out += "\"/>\n";
}

/// Writes one view's pieces with points kept to cells of `cell` picture
/// units, taking every `stride`-th point of a piece (and its ends); false as
/// soon as the text passes `budget` bytes.
bool write_pieces(const station_path& path, const view_map& m, double cell, size_t stride,
                  size_t budget, std::string& out) {
  const std::vector<station_path_point>& points = path.points;
  if (points.size() < 2) return true;
  const size_t moves = points.size() - 1;
  const size_t per_piece = (moves + station_svg_pieces - 1) / station_svg_pieces;
  polyline_thinner thinner;
  std::vector<grid_point> kept;
  drawn_segments drawn;
  for (size_t begin = 0; begin < moves; begin += per_piece) {
    const size_t end = std::min(begin + per_piece, moves);
    thinner.start(cell_of(m, points[begin], cell), kept);
    for (size_t i = begin + 1; i <= end; ++i)
      if ((i - begin) % stride == 0 || i == end) thinner.add(cell_of(m, points[i], cell));
    thinner.finish();
    // The piece begins with the move leaving its first point.
    write_piece(kept, points[begin + 1].command, cell, drawn, out);
    if (out.size() > budget) return false;
  }
  return true;
}

/// The pieces of one view within `budget` bytes: a quarter of a screen pixel
/// first; a job too dense for that is drawn on coarser cells, and at last
/// with fewer of its points, so that the picture stays bounded.
std::string view_pieces(const station_path& path, const view_map& m, double quarter_pixel,
                        size_t budget) {
  std::string text;
  for (unsigned round = 0; round < 64; ++round) {
    const double cell = quarter_pixel * static_cast<double>(1u << std::min(round, 3u));
    const size_t stride = round > 3 ? size_t{1} << std::min(round - 3, 40u) : 1;
    text.clear();
    const bool fits = write_pieces(path, m, cell, stride, budget, text);
    if (fits) break;
  }
  return text;
}

struct view_part {
  const char* name;   // "top", "side"
  const char* title;  // the heading above the view
  const plot_view& view;
  int vertical;        // Y or Z
  const char* v_name;  // the vertical axis's label
};

void draw_view(svg_writer& w, const station_path& path, const view_part& part,
               double quarter_pixel, size_t budget) {
  const toolpath& frame = path.frame;
  const plot_view& view = part.view;
  const view_map m = map_of(view, frame, axis_x, part.vertical);
  w.printf("<g class=\"view\" data-view=\"%s\" data-map=\"%.6f %.6f %.9g %.9g\">\n", part.name,
           m.ox, m.oy, m.kx, m.ky);
  w.printf(
      "<text x=\"%.2f\" y=\"%.2f\" font-size=\"14\" font-weight=\"bold\" fill=\"#202124\">"
      "%s</text>\n",
      view.left, view.top - 10, part.title);
  draw_grid(w, view, "X (in)", part.v_name);
  if (frame.homed)
    draw_envelope_box(w, m.x(frame.envelope_min), m.y(frame.envelope_max), m.x(frame.envelope_max),
                      m.y(frame.envelope_min));
  draw_home_marker(w, m.x(frame.home), m.y(frame.home), "home", part.vertical == axis_z);
  w.put(
      "<g class=\"paths\" fill=\"none\" stroke=\"#3c4043\" stroke-width=\"1.4\" "
      "stroke-linejoin=\"round\" stroke-linecap=\"round\">\n");
  w.put(view_pieces(path, m, quarter_pixel, budget));
  w.put("</g>\n</g>\n");
}

}  // namespace

std::string draw_station_path(const station_path& path) {
  const picture_layout layout = lay_out_picture(layout_frame(path));
  const plot_view& top = layout.top;
  const plot_view& side = layout.side;
  const double left = 0.0, upper = top.top - 34;
  const double width = top.left + std::max(top.width, side.width) + 24;
  const double height = side.top + side.height + 40 - upper;
  std::string svg;
  svg_writer w(svg);
  w.printf(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"%.2f %.2f %.2f %.2f\" "
      "font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n",
      left, upper, width, height);
  w.printf("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"#ffffff\"/>\n", left,
           upper, width, height);
  // What is left of the limit once the frame is drawn is shared by the two
  // views' lines (the frame takes a few kilobytes).
  const size_t frame_reserve = 100000;
  const size_t budget = (station_svg_limit - frame_reserve) / 2;
  const double quarter_pixel = width / (station_svg_screen_px * 4.0);
  draw_view(w, path, {"top", "Top view (X, Y)", top, axis_y, "Y (in)"}, quarter_pixel, budget);
  draw_view(w, path, {"side", "Side view (X, Z)", side, axis_z, "Z (in)"}, quarter_pixel, budget);
  w.put("</svg>\n");
  return svg;
}
