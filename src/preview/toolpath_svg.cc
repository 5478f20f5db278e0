#include "preview/toolpath_svg.h"

#include <cmath>
#include <string>

#include "gcode/axis_words.h"
#include "preview/preview_layout.h"
#include "preview/svg_elements.h"
#include "supervision/job_estimate.h"

namespace {

// ---------------------------------------------------------------------------
// The moves.

/// `t` of depth_colour for a Z in steps: 0 at the deepest end of a move of
/// the job, 1 at the highest.
double depth_fraction(const toolpath& path, const shown_range& depths, int32_t z_steps) {
  double z = steps_to_inches(z_steps, path.scales[axis_z]);
  return depths.span() > 0.0 ? (z - depths.low) / depths.span() : 0.5;
}

/// The path under way: a run of moves of one kind ending at one depth.
struct open_path {
  std::string d;
  double last_x = 0.0, last_y = 0.0;    // where the path stands, exactly
  double drawn_x = 0.0, drawn_y = 0.0;  // the last point written
  bool open = false;
  bool rapid = false;
  int32_t z = 0;

  void write_point(char command, double x, double y) {
    char point[48];
    std::snprintf(point, sizeof point, "%c%.2f %.2f", command, x, y);
    d += point;
    drawn_x = x;
    drawn_y = y;
  }
};

/// Writes the path under way, if any; the path ends exactly where its last
/// move does.
void close_path(svg_writer& w, open_path& o, const toolpath& path, const shown_range& depths) {
  if (!o.open) return;
  if (o.last_x != o.drawn_x || o.last_y != o.drawn_y) o.write_point('L', o.last_x, o.last_y);
  const std::string colour = depth_colour(depth_fraction(path, depths, o.z));
  if (o.rapid)
    w.printf(
        "<path class=\"rapid\" d=\"%s\" stroke=\"%s\" stroke-width=\"1\" "
        "stroke-dasharray=\"5 3\" stroke-opacity=\"0.75\" fill=\"none\"/>\n",
        o.d.c_str(), colour.c_str());
  else
    w.printf(
        "<path class=\"feed\" d=\"%s\" stroke=\"%s\" stroke-width=\"1.6\" "
        "stroke-linejoin=\"round\" stroke-linecap=\"round\" fill=\"none\"/>\n",
        o.d.c_str(), colour.c_str());
  o.open = false;
  o.d.clear();
}

/// Draws the moves in one view, projected on axes `h` and `v`: runs of moves
/// of one kind ending at one depth become one path; points closer than a
/// fraction of a pixel to the last one drawn are left out.
void draw_moves(svg_writer& w, const plot_view& v, const toolpath& path, int h, int vertical_axis,
                const shown_range& depths, bool mark_plunges) {
  const inch_projector p{path};
  constexpr double min_px = 0.3;
  open_path o;
  for (const toolpath_move& m : path.moves) {
    double x0 = v.x(p.in(m.from[h], h)), y0 = v.y(p.in(m.from[vertical_axis], vertical_axis));
    double x1 = v.x(p.in(m.to[h], h)), y1 = v.y(p.in(m.to[vertical_axis], vertical_axis));
    bool still = m.from[h] == m.to[h] && m.from[vertical_axis] == m.to[vertical_axis];
    if (still) {
      // A plunge shows in the top view as a dot where it goes down.
      if (mark_plunges && m.to[axis_z] < m.from[axis_z]) {
        close_path(w, o, path, depths);
        w.printf("<circle class=\"plunge\" cx=\"%.2f\" cy=\"%.2f\" r=\"2.6\" fill=\"%s\"/>\n", x1,
                 y1, depth_colour(depth_fraction(path, depths, m.to[axis_z])).c_str());
      }
      continue;
    }
    bool joins =
        o.open && o.rapid == m.rapid && o.z == m.to[axis_z] && x0 == o.last_x && y0 == o.last_y;
    if (!joins) {
      close_path(w, o, path, depths);
      o.d.clear();
      o.write_point('M', x0, y0);
      o.open = true;
      o.rapid = m.rapid;
      o.z = m.to[axis_z];
    }
    // Moves too short to see are left out, as long as the path they make
    // stays within a fraction of a pixel of the last point written.
    if (!joins || std::hypot(x1 - o.drawn_x, y1 - o.drawn_y) >= min_px) o.write_point('L', x1, y1);
    o.last_x = x1;
    o.last_y = y1;
  }
  close_path(w, o, path, depths);
}

// ---------------------------------------------------------------------------
// The heading and the two views.

/// The document's start, with the numbers a program may check, and the
/// heading.
void write_heading(svg_writer& w, const toolpath& path, const picture_layout& layout,
                   unsigned long long feeds, unsigned long long rapids) {
  const inch_projector p{path};
  const double width = layout.width, height = layout.height;
  w.printf(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
      "viewBox=\"0 0 %.0f %.0f\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\"",
      width, height, width, height);
  w.put(" data-script=\"" + xml_text(path.script) + "\"");
  w.printf(" data-ran-to-end=\"%s\" data-homed=\"%s\"", path.ran_to_end ? "true" : "false",
           path.homed ? "true" : "false");
  static const char* const names[axis_count] = {"x", "y", "z"};
  for (int a = 0; a < axis_count; ++a) {
    w.printf(" data-envelope-min-%s-steps=\"%ld\" data-envelope-max-%s-steps=\"%ld\"", names[a],
             static_cast<long>(path.envelope_min[a]), names[a],
             static_cast<long>(path.envelope_max[a]));
    w.printf(" data-envelope-min-%s-in=\"%.4f\" data-envelope-max-%s-in=\"%.4f\"", names[a],
             p.in(path.envelope_min[a], a), names[a], p.in(path.envelope_max[a], a));
    w.printf(" data-home-%s-steps=\"%ld\"", names[a], static_cast<long>(path.home[a]));
    w.printf(" data-scale-%s=\"%ld/%ld\"", names[a], static_cast<long>(path.scales[a].numerator),
             static_cast<long>(path.scales[a].denominator));
  }
  w.printf(" data-feed-moves=\"%llu\" data-rapid-moves=\"%llu\" data-estimated-ms=\"%.0f\">\n",
           feeds, rapids, path.estimate_ms);
  w.put("<title>Toolpath of " + xml_text(path.script) + "</title>\n");
  w.printf("<rect width=\"%.0f\" height=\"%.0f\" fill=\"#ffffff\"/>\n", width, height);

  // Heading.
  char time[32];
  format_hms(path.estimate_ms, time, sizeof time);
  w.put(
      "<text x=\"28\" y=\"40\" font-size=\"21\" font-weight=\"bold\" fill=\"#202124\">"
      "Toolpath of " +
      xml_text(path.script) + "</text>\n");
  std::string status =
      path.ran_to_end
          ? "Runs to its end"
          : "Stopped at " +
                xml_text(path.stopped_at.empty() ? std::string("the start") : path.stopped_at) +
                " (drawn up to there)";
  char counts[160];
  std::snprintf(counts, sizeof counts,
                " \xC2\xB7 %llu feed moves, %llu rapid moves \xC2\xB7 estimated machine time %s "
                "(h:mm:ss)",
                feeds, rapids, time);
  w.printf("<text x=\"28\" y=\"64\" font-size=\"13\" fill=\"%s\">",
           path.ran_to_end ? "#3c4043" : "#b3261e");
  w.put(status + counts + "</text>\n");
}

/// The upper left corner of a drawn envelope box, in pixels.
struct envelope_corner {
  double left, top;
};

/// Draws the envelope since the last homing in `view`: X across, `vertical`
/// (Y or Z) up.
envelope_corner draw_view_envelope(svg_writer& w, const plot_view& view, const inch_projector& p,
                                   int vertical) {
  const toolpath& path = p.path;
  const double x0 = view.x(p.in(path.envelope_min[axis_x], axis_x));
  const double x1 = view.x(p.in(path.envelope_max[axis_x], axis_x));
  const double v0 = view.y(p.in(path.envelope_max[vertical], vertical));
  const double v1 = view.y(p.in(path.envelope_min[vertical], vertical));
  draw_envelope_box(w, x0, v0, x1, v1);
  return {x0, v0};
}

void draw_top_view(svg_writer& w, const toolpath& path, const picture_layout& layout) {
  const inch_projector p{path};
  const plot_view& top = layout.top;
  w.printf(
      "<g class=\"view-xy\" data-origin-x=\"%.4f\" data-origin-y=\"%.4f\" "
      "data-px-per-inch=\"%.6f\">\n",
      top.x(0.0), top.y(0.0), top.px_h);
  w.printf(
      "<text x=\"%.2f\" y=\"%.2f\" font-size=\"14\" font-weight=\"bold\" fill=\"#202124\">"
      "Top view (X, Y)</text>\n",
      top.left, top.top - 10);
  draw_grid(w, top, "X (in)", "Y (in)");
  if (path.homed) {
    const envelope_corner corner = draw_view_envelope(w, top, p, axis_y);
    w.printf("<text x=\"%.2f\" y=\"%.2f\" font-size=\"11\" fill=\"#1a73e8\">envelope</text>\n",
             corner.left + 4, corner.top - 5);
  }
  draw_moves(w, top, path, axis_x, axis_y, layout.depths, true);
  if (path.moves.empty())
    w.printf(
        "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\" font-size=\"14\" "
        "fill=\"#5f6368\">The script moves nothing%s.</text>\n",
        top.left + top.width / 2, top.top + top.height / 3,
        path.ran_to_end ? "" : " before it stops");
  draw_home_marker(w, top.x(0.0), top.y(0.0), "home", false);
  w.put("</g>\n");
}

void draw_side_view(svg_writer& w, const toolpath& path, const picture_layout& layout) {
  const inch_projector p{path};
  const plot_view& side = layout.side;
  const double ppi = side.px_h, z_ppi = side.px_v;
  w.printf(
      "<g class=\"view-xz\" data-origin-x=\"%.4f\" data-origin-z=\"%.4f\" "
      "data-px-per-inch-x=\"%.6f\" data-px-per-inch-z=\"%.6f\">\n",
      side.x(0.0), side.y(0.0), ppi, z_ppi);
  std::string side_title = "Side view (X, Z)";
  if (std::fabs(z_ppi / ppi - 1.0) > 0.01)
    side_title += format_number(
        z_ppi > ppi ? ", Z drawn %.1f\xC3\x97 taller" : ", Z drawn %.2f\xC3\x97 as tall",
        z_ppi / ppi);
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-size=\"14\" font-weight=\"bold\" fill=\"#202124\">",
           side.left, side.top - 10);
  w.put(side_title + "</text>\n");
  draw_grid(w, side, "X (in)", "Z (in)");
  if (path.homed) draw_view_envelope(w, side, p, axis_z);
  double home_z = side.y(p.in(path.home[axis_z], axis_z));
  w.printf(
      "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#5f6368\" "
      "stroke-width=\"1\" stroke-dasharray=\"2 3\"/>\n",
      side.left, home_z, side.left + side.width, home_z);
  w.printf(
      "<text x=\"%.2f\" y=\"%.2f\" font-size=\"11\" fill=\"#5f6368\" text-anchor=\"end\">"
      "top of Z travel</text>\n",
      side.left + side.width - 4, home_z - 4);
  draw_moves(w, side, path, axis_x, axis_z, layout.depths, false);
  draw_home_marker(w, side.x(0.0), home_z, "home", true);
  w.put("</g>\n");
}

// ---------------------------------------------------------------------------
// The key: line styles, the depth colours, the envelope, home and scales.

constexpr double depth_bar_height = 150;

/// Opens the key and draws its line styles; returns where the last one sits.
double draw_key_styles(svg_writer& w, double key_left) {
  double y = 104;
  w.printf(
      "<g class=\"key\" font-size=\"12\" fill=\"#3c4043\">\n"
      "<text x=\"%.2f\" y=\"%.2f\" font-size=\"14\" font-weight=\"bold\" fill=\"#202124\">"
      "Key</text>\n",
      key_left, y - 8);
  const std::string mid = depth_colour(0.35);
  y += 14;
  w.printf(
      "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" "
      "stroke-width=\"1.6\"/><text x=\"%.2f\" y=\"%.2f\">feed move (G01)</text>\n",
      key_left, y, key_left + 34, y, mid.c_str(), key_left + 44, y + 4);
  y += 22;
  w.printf(
      "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" stroke-width=\"1\" "
      "stroke-dasharray=\"5 3\"/><text x=\"%.2f\" y=\"%.2f\">rapid move (G00)</text>\n",
      key_left, y, key_left + 34, y, mid.c_str(), key_left + 44, y + 4);
  y += 22;
  w.printf(
      "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"2.6\" fill=\"%s\"/><text x=\"%.2f\" y=\"%.2f\">"
      "plunge (Z down, top view)</text>\n",
      key_left + 17, y, mid.c_str(), key_left + 44, y + 4);
  y += 22;
  w.printf(
      "<rect x=\"%.2f\" y=\"%.2f\" width=\"34\" height=\"12\" fill=\"none\" "
      "stroke=\"#1a73e8\" stroke-width=\"1.2\" stroke-dasharray=\"9 4\"/>"
      "<text x=\"%.2f\" y=\"%.2f\">envelope since the last homing</text>\n",
      key_left, y - 6, key_left + 44, y + 4);
  y += 22;
  w.printf(
      "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"6\" fill=\"#ffffff\" stroke=\"#202124\" "
      "stroke-width=\"1.5\"/><text x=\"%.2f\" y=\"%.2f\">home position</text>\n",
      key_left + 17, y, key_left + 44, y + 4);
  return y;
}

/// Depth colours: a bar from the deepest end of a move to the highest, below
/// `y`; returns the top of the bar.
double draw_depth_scale(svg_writer& w, double key_left, double y, const shown_range& depths) {
  y += 38;
  w.printf(
      "<text x=\"%.2f\" y=\"%.2f\" font-weight=\"bold\" fill=\"#202124\">"
      "Depth: Z at the end of each move</text>\n",
      key_left, y);
  y += 12;
  w.put("<defs><linearGradient id=\"depth\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">");
  for (int i = 0; i <= 10; ++i)
    w.printf("<stop offset=\"%.1f\" stop-color=\"%s\"/>", i / 10.0, depth_colour(i / 10.0).c_str());
  w.put("</linearGradient></defs>\n");
  w.printf(
      "<rect class=\"depth-scale\" x=\"%.2f\" y=\"%.2f\" width=\"18\" height=\"%.2f\" "
      "fill=\"url(#depth)\" stroke=\"#9aa0a6\" data-z-low-in=\"%.4f\" "
      "data-z-high-in=\"%.4f\"/>\n",
      key_left, y, depth_bar_height, depths.low, depths.high);
  int labels = depths.span() > 0.0 ? 5 : 1;
  for (int i = 0; i < labels; ++i) {
    double t = labels == 1 ? 0.5 : static_cast<double>(i) / (labels - 1);
    double ty = y + depth_bar_height * (1.0 - t);
    w.printf(
        "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#5f6368\"/>"
        "<text x=\"%.2f\" y=\"%.2f\">Z %.4f in</text>\n",
        key_left + 18, ty, key_left + 24, ty, key_left + 28, ty + 4,
        depths.low + t * depths.span());
  }
  w.printf("<text x=\"%.2f\" y=\"%.2f\" fill=\"#5f6368\">higher</text>\n", key_left + 130, y + 12);
  w.printf("<text x=\"%.2f\" y=\"%.2f\" fill=\"#5f6368\">deeper</text>\n", key_left + 130,
           y + depth_bar_height);
  return y;
}

std::string inch_range(const toolpath& path, int a) {
  return format_number("%.4f", steps_to_inches(path.envelope_min[a], path.scales[a])) +
         " \xE2\x80\xA6 " +
         format_number("%.4f", steps_to_inches(path.envelope_max[a], path.scales[a])) + " in";
}

std::string step_range(const toolpath& path, int a) {
  char text[64];
  std::snprintf(text, sizeof text, "%ld \xE2\x80\xA6 %ld steps",
                static_cast<long>(path.envelope_min[a]), static_cast<long>(path.envelope_max[a]));
  return text;
}

/// The envelope in inches and steps, home and the scales, from `y` down;
/// closes the key.
void draw_key_numbers(svg_writer& w, const toolpath& path, double key_left, double y) {
  const inch_projector p{path};
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-weight=\"bold\" fill=\"#202124\">Envelope%s</text>\n",
           key_left, y, path.homed ? " since the last homing" : " (never homed)");
  for (int a = 0; a < axis_count; ++a) {
    y += 20;
    w.printf(
        "<text x=\"%.2f\" y=\"%.2f\"><tspan font-weight=\"bold\">%c</tspan>"
        "<tspan x=\"%.2f\">",
        key_left, y, axis_table[a].name, key_left + 18);
    w.put(inch_range(path, a) + "</tspan></text>\n");
    y += 16;
    w.printf("<text x=\"%.2f\" y=\"%.2f\" fill=\"#5f6368\">", key_left + 18, y);
    w.put(step_range(path, a) + "</text>\n");
  }
  y += 30;
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-weight=\"bold\" fill=\"#202124\">Home</text>\n",
           key_left, y);
  y += 20;
  w.printf("<text x=\"%.2f\" y=\"%.2f\">X 0, Y 0, Z %.4f in (%ld steps)</text>\n", key_left, y,
           p.in(path.home[axis_z], axis_z), static_cast<long>(path.home[axis_z]));
  y += 30;
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-weight=\"bold\" fill=\"#202124\">Scales</text>\n",
           key_left, y);
  for (int a = 0; a < axis_count; ++a) {
    y += 18;
    w.printf("<text x=\"%.2f\" y=\"%.2f\">%c %ld steps per %.3f in</text>\n", key_left, y,
             axis_table[a].name, static_cast<long>(path.scales[a].numerator),
             path.scales[a].denominator / 1000.0);
  }
  w.put("</g>\n");
}

void draw_key(svg_writer& w, const toolpath& path, const picture_layout& layout) {
  const double key_left = layout.key_left;
  double y = draw_key_styles(w, key_left);
  y = draw_depth_scale(w, key_left, y, layout.depths);
  y += depth_bar_height + 40;
  draw_key_numbers(w, path, key_left, y);
}

}  // namespace

bool write_toolpath_svg(const toolpath& path, std::FILE* out) {
  unsigned long long feeds = 0, rapids = 0;
  for (const toolpath_move& m : path.moves) (m.rapid ? rapids : feeds)++;
  const picture_layout layout = lay_out_picture(path);
  svg_writer w(out);
  write_heading(w, path, layout, feeds, rapids);
  draw_top_view(w, path, layout);
  draw_side_view(w, path, layout);
  draw_key(w, path, layout);
  w.put("</svg>\n");
  return std::ferror(out) == 0;
}
