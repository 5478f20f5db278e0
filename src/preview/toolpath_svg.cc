#include "preview/toolpath_svg.h"

#include <algorithm>
#include <cstdarg>
#include <cmath>
#include <cstring>
#include <new>

#include "common/message.h"
#include "link/port_opening.h"
#include "link/validator_table.h"
#include "runner/run_events.h"
#include "runner/run_state.h"
#include "runner/script_interpreter.h"
#include "runner/script_reader.h"
#include "supervision/homing.h"
#include "supervision/job_estimate.h"

const char* const millplot_usage =
    "Usage: millplot SCRIPT [-o FILE.svg]\n"
    "\n"
    "Draws the toolpath of a milling script as an SVG picture: the XY view with\n"
    "feed moves solid and rapid moves dashed, the depth in colour, the motion\n"
    "envelope with its extents in inches and steps, the home position, and a\n"
    "side view of Z against X.\n"
    "\n"
    "The script is translated as in a dry run, from the working directory (as\n"
    "millrun runs it): no KelCodeOutput.txt or EnvelopeReport.txt is written,\n"
    "dwells do not wait, and nothing is sent to a machine, even where the\n"
    "script opens a link. A script that stops at a line is drawn up to there.\n"
    "\n"
    "  -o FILE     write the picture to FILE (default: SCRIPT with .svg)\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "\n"
    "Exit code 0 when the script ran to its end and the picture was written,\n"
    "1 otherwise.\n";

namespace {

// ---------------------------------------------------------------------------
// The stand-in controller: a link the script opens is answered here, as a
// healthy controller would, so that a preview never drives a machine.

class stand_in_controller final : public device {
 public:
  read_status read_pending_byte(unsigned char& byte) override {
    return next(byte) ? read_status::byte : read_status::nothing;
  }
  // Every reply is queued with its command: a wait with nothing queued
  // would never end, so it ends as a device gone.
  read_status wait_byte(unsigned char& byte) override {
    return next(byte) ? read_status::byte : read_status::gone;
  }
  bool write(const char* data, size_t length, size_t& written) override {
    for (size_t i = 0; i < length; ++i) {
      if (data[i] != '\n') {
        command_.push_back(data[i]);
        continue;
      }
      // Home commands and scale queries end their reply in an inch mark and
      // "/1000; a reply without numbers leaves the scales as they are.
      bool home_like = command_.find("_home ") != std::string::npos ||
                       command_.rfind("get_native_axis_scale ", 0) == 0;
      replies_ += home_like ? "\"/1000\r\n" : "X\r\n";
      command_.clear();
    }
    written = length;
    return true;
  }
  bool apply_line_settings(const line_settings&) override { return true; }

 private:
  bool next(unsigned char& byte) {
    if (read_ >= replies_.size()) {
      replies_.clear();
      read_ = 0;
      return false;
    }
    byte = static_cast<unsigned char>(replies_[read_++]);
    return true;
  }
  std::string command_;
  std::string replies_;
  size_t read_ = 0;
};

port_handle open_stand_in(const char*, port_kind, open_disposition) {
  return new (std::nothrow) stand_in_controller;
}

// ---------------------------------------------------------------------------
// Collecting the motion from the run's events.

constexpr int name_slots = max_include_depth + 2;

struct collector_record {
  toolpath* path = nullptr;
  char files[name_slots][512] = {};  // the file run at each include depth
  int depth = 0;
  int line = 0;
  bool ever_homed = false;
};
collector_record collector;

void note_homing() {
  if (homing_state().homed) collector.ever_homed = true;
}

void collect_line_started(const char* file, int depth, int line_number) {
  estimate_line_started();
  note_homing();
  if (depth >= 0 && depth < name_slots) {
    // A file's first line names it; later lines of it leave the name be.
    if (line_number == 1)
      std::snprintf(collector.files[depth], sizeof collector.files[depth], "%s", file);
    collector.depth = depth;
  }
  collector.line = line_number;
}

void collect_motion(const axis_moves& moves, bool rapid, const char* command) {
  estimate_motion(moves, command);
  note_homing();
  // A move composed before the first homing starts from a position the
  // machine never stood at; the record forgets it at the homing, and so
  // does the picture.
  if (!command || !homing_state().homed) return;
  const axis_model& model = axis_model_state();
  toolpath_move move{};
  for (int a = 0; a < axis_count; ++a) {
    move.from[a] = model.axes[a].position_steps;
    move.to[a] = static_cast<int32_t>(int64_t{model.axes[a].position_steps} +
                                      int64_t{moves.direction[a]} * moves.steps[a]);
  }
  move.rapid = rapid;
  collector.path->moves.push_back(move);
}

void collect_dwell(uint32_t milliseconds) {
  estimate_dwell(milliseconds);
  ++collector.path->dwells;
}

void collect_command(const char* command) {
  estimate_command(command);
  note_homing();
}

void collect_recovery() { estimate_recovery_started(); }

// ---------------------------------------------------------------------------
// Text for the picture.

/// Appends `text` with the XML specials escaped; bytes that are not UTF-8
/// become U+FFFD, so that an odd file name cannot spoil the document.
std::string xml_text(const std::string& text) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c < 0x20 ? '?' : static_cast<char>(c);
      }
      ++p;
      continue;
    }
    int length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    bool valid = length > 0 && end - p >= length;
    for (int i = 1; valid && i < length; ++i) valid = (p[i] & 0xC0) == 0x80;
    if (valid && length == 3) valid = !(c == 0xE0 && p[1] < 0xA0) && !(c == 0xED && p[1] >= 0xA0);
    if (valid && length == 4) valid = !(c == 0xF0 && p[1] < 0x90) && !(c == 0xF4 && p[1] >= 0x90);
    if (valid) {
      out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
      p += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++p;
    }
  }
  return out;
}

std::string format(const char* fmt, double a, double b = 0.0) {
  char text[64];
  std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

// ---------------------------------------------------------------------------
// The colour of depth: deep cuts dark, moves near the top of Z light.

struct rgb {
  double r, g, b;
};

constexpr rgb depth_stops[] = {
    {0x2d, 0x0b, 0x59}, {0x6a, 0x17, 0x6e}, {0xa8, 0x30, 0x6b},
    {0xd8, 0x4e, 0x4b}, {0xf1, 0x80, 0x2d}, {0xe9, 0xb0, 0x1f},
};
constexpr int depth_stop_count = sizeof depth_stops / sizeof depth_stops[0];

/// `t` 0 for the deepest Z of the job, 1 for the highest.
std::string depth_colour(double t) {
  if (!(t >= 0.0)) t = 0.0;
  if (t > 1.0) t = 1.0;
  double position = t * (depth_stop_count - 1);
  int i = std::min(static_cast<int>(position), depth_stop_count - 2);
  double f = position - i;
  const rgb& a = depth_stops[i];
  const rgb& b = depth_stops[i + 1];
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x",
                static_cast<unsigned>(std::lround(a.r + (b.r - a.r) * f)),
                static_cast<unsigned>(std::lround(a.g + (b.g - a.g) * f)),
                static_cast<unsigned>(std::lround(a.b + (b.b - a.b) * f)));
  return text;
}

// ---------------------------------------------------------------------------
// Scales of the two views.

struct range {
  double low = 0.0, high = 0.0;
  bool empty = true;
  void add(double v) {
    if (empty) {
      low = high = v;
      empty = false;
    } else {
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  double span() const { return high - low; }
  /// Widens to at least `span`, around the middle.
  void widen_to(double span_wanted) {
    if (span() >= span_wanted) return;
    double middle = (low + high) / 2.0;
    low = middle - span_wanted / 2.0;
    high = middle + span_wanted / 2.0;
  }
  void pad(double amount) {
    low -= amount;
    high += amount;
  }
};

/// A tick step of 1, 2 or 5 times a power of ten that gives about `count`
/// ticks over `span`.
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

/// A view: inches on two axes to picture coordinates (y grows downwards).
struct view {
  double left, top, width, height;  // the plot area
  range horizontal, vertical;       // inches shown
  double px_h, px_v;                // pixels per inch
  double x(double inches) const { return left + (inches - horizontal.low) * px_h; }
  double y(double inches) const { return top + (vertical.high - inches) * px_v; }
};

class svg_writer {
 public:
  explicit svg_writer(std::FILE* out) : out_(out) {}
  void put(const std::string& text) { std::fputs(text.c_str(), out_); }
  void put(const char* text) { std::fputs(text, out_); }
  void printf(const char* fmt, ...) __attribute__((format(gnu_printf, 2, 3)));

 private:
  std::FILE* out_;
};

void svg_writer::printf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vfprintf(out_, fmt, args);
  va_end(args);
}

void draw_grid(svg_writer& w, const view& v, const char* h_name, const char* v_name) {
  double hs = tick_step(v.horizontal.span(), std::max(2, static_cast<int>(v.width / 90)));
  double vs = tick_step(v.vertical.span(), std::max(2, static_cast<int>(v.height / 60)));
  int hd = tick_decimals(hs), vd = tick_decimals(vs);
  w.printf("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"#fbfbfc\" "
           "stroke=\"#9aa0a6\" stroke-width=\"1\"/>\n",
           v.left, v.top, v.width, v.height);
  w.put("<g class=\"grid\" stroke=\"#e3e5e8\" stroke-width=\"1\">\n");
  for (double t = std::ceil(v.horizontal.low / hs) * hs; t <= v.horizontal.high + 1e-9; t += hs)
    w.printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", v.x(t), v.top, v.x(t),
             v.top + v.height);
  for (double t = std::ceil(v.vertical.low / vs) * vs; t <= v.vertical.high + 1e-9; t += vs)
    w.printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", v.left, v.y(t),
             v.left + v.width, v.y(t));
  w.put("</g>\n<g class=\"ticks\" font-size=\"11\" fill=\"#5f6368\">\n");
  for (double t = std::ceil(v.horizontal.low / hs) * hs; t <= v.horizontal.high + 1e-9; t += hs)
    w.printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">%.*f</text>\n", v.x(t),
             v.top + v.height + 15, hd, std::fabs(t) < 1e-9 ? 0.0 : t);
  for (double t = std::ceil(v.vertical.low / vs) * vs; t <= v.vertical.high + 1e-9; t += vs)
    w.printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">%.*f</text>\n", v.left - 6,
             v.y(t) + 4, vd, std::fabs(t) < 1e-9 ? 0.0 : t);
  w.printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\" font-size=\"12\">%s</text>\n",
           v.left + v.width / 2, v.top + v.height + 31, h_name);
  w.printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\" font-size=\"12\" "
           "transform=\"rotate(-90 %.2f %.2f)\">%s</text>\n",
           v.left - 44, v.top + v.height / 2, v.left - 44, v.top + v.height / 2, v_name);
  w.put("</g>\n");
}

/// The inch position of a move's end or start on an axis.
struct projector {
  const toolpath& path;
  double in(int32_t steps, int axis) const { return steps_to_inches(steps, path.scales[axis]); }
};

/// Draws the moves in one view, projected on axes `h` and `v`: runs of moves
/// of one kind ending at one depth become one path; points closer than a
/// fraction of a pixel to the last one drawn are left out.
void draw_moves(svg_writer& w, const view& v, const toolpath& path, int h, int vertical_axis,
                const range& depths, bool mark_plunges) {
  const projector p{path};
  auto depth_t = [&](int32_t z_steps) {
    double z = p.in(z_steps, axis_z);
    return depths.span() > 0.0 ? (z - depths.low) / depths.span() : 0.5;
  };
  constexpr double min_px = 0.3;
  std::string d;
  double last_x = 0.0, last_y = 0.0;  // where the path stands, exactly
  double drawn_x = 0.0, drawn_y = 0.0;  // the last point written
  bool open = false;
  bool open_rapid = false;
  int32_t open_z = 0;
  char point[48];
  auto write_point = [&](char command, double x, double y) {
    std::snprintf(point, sizeof point, "%c%.2f %.2f", command, x, y);
    d += point;
    drawn_x = x;
    drawn_y = y;
  };
  auto close_path = [&]() {
    if (!open) return;
    // The path ends exactly where its last move does.
    if (last_x != drawn_x || last_y != drawn_y) write_point('L', last_x, last_y);
    if (open_rapid)
      w.printf("<path class=\"rapid\" d=\"%s\" stroke=\"%s\" stroke-width=\"1\" "
               "stroke-dasharray=\"5 3\" stroke-opacity=\"0.75\" fill=\"none\"/>\n",
               d.c_str(), depth_colour(depth_t(open_z)).c_str());
    else
      w.printf("<path class=\"feed\" d=\"%s\" stroke=\"%s\" stroke-width=\"1.6\" "
               "stroke-linejoin=\"round\" stroke-linecap=\"round\" fill=\"none\"/>\n",
               d.c_str(), depth_colour(depth_t(open_z)).c_str());
    open = false;
    d.clear();
  };
  for (const toolpath_move& m : path.moves) {
    double x0 = v.x(p.in(m.from[h], h)), y0 = v.y(p.in(m.from[vertical_axis], vertical_axis));
    double x1 = v.x(p.in(m.to[h], h)), y1 = v.y(p.in(m.to[vertical_axis], vertical_axis));
    bool still = m.from[h] == m.to[h] && m.from[vertical_axis] == m.to[vertical_axis];
    if (still) {
      // A plunge shows in the top view as a dot where it goes down.
      if (mark_plunges && m.to[axis_z] < m.from[axis_z]) {
        close_path();
        w.printf("<circle class=\"plunge\" cx=\"%.2f\" cy=\"%.2f\" r=\"2.6\" fill=\"%s\"/>\n", x1,
                 y1, depth_colour(depth_t(m.to[axis_z])).c_str());
      }
      continue;
    }
    bool joins = open && open_rapid == m.rapid && open_z == m.to[axis_z] && x0 == last_x &&
                 y0 == last_y;
    if (!joins) {
      close_path();
      d.clear();
      write_point('M', x0, y0);
      open = true;
      open_rapid = m.rapid;
      open_z = m.to[axis_z];
    }
    // Moves too short to see are left out, as long as the path they make
    // stays within a fraction of a pixel of the last point written.
    if (!joins || std::hypot(x1 - drawn_x, y1 - drawn_y) >= min_px) write_point('L', x1, y1);
    last_x = x1;
    last_y = y1;
  }
  close_path();
}

/// The home marker; its label goes above it, or below where `label_below`.
void draw_home_marker(svg_writer& w, double x, double y, const char* label, bool label_below) {
  w.printf("<g class=\"home\" data-x=\"%.2f\" data-y=\"%.2f\">"
           "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"7\" fill=\"#ffffff\" stroke=\"#202124\" "
           "stroke-width=\"1.5\"/>"
           "<path d=\"M%.2f %.2fh14M%.2f %.2fv14\" stroke=\"#202124\" stroke-width=\"1.2\"/>"
           "<text x=\"%.2f\" y=\"%.2f\" font-size=\"11\" fill=\"#202124\">%s</text></g>\n",
           x, y, x, y, x - 7, y, x, y - 7, x + 10, label_below ? y + 19 : y - 9, label);
}

std::string inch_range(const toolpath& path, int a) {
  return format("%.4f", steps_to_inches(path.envelope_min[a], path.scales[a])) + " \xE2\x80\xA6 " +
         format("%.4f", steps_to_inches(path.envelope_max[a], path.scales[a])) + " in";
}

std::string step_range(const toolpath& path, int a) {
  char text[64];
  std::snprintf(text, sizeof text, "%ld \xE2\x80\xA6 %ld steps",
                static_cast<long>(path.envelope_min[a]), static_cast<long>(path.envelope_max[a]));
  return text;
}

/// Where everything goes: the ranges shown, the two views, the key.
struct picture_layout {
  range depths;  // Z at the ends of the moves, for the colours
  view top{}, side{};
  double key_left = 0.0, width = 0.0, height = 0.0;
};

picture_layout lay_out(const toolpath& path) {
  const projector p{path};
  // 1. What is shown: the moves, the envelope and home, with a margin.
  range xs, ys, zs, depths;
  xs.add(0.0);
  ys.add(0.0);
  zs.add(p.in(path.home[axis_z], axis_z));
  if (path.homed) {
    for (int i = 0; i < 2; ++i) {
      int32_t corner[axis_count];
      for (int a = 0; a < axis_count; ++a)
        corner[a] = i == 0 ? path.envelope_min[a] : path.envelope_max[a];
      xs.add(p.in(corner[axis_x], axis_x));
      ys.add(p.in(corner[axis_y], axis_y));
      zs.add(p.in(corner[axis_z], axis_z));
    }
  }
  for (const toolpath_move& m : path.moves) {
    for (const int32_t* point : {m.from, m.to}) {
      xs.add(p.in(point[axis_x], axis_x));
      ys.add(p.in(point[axis_y], axis_y));
      zs.add(p.in(point[axis_z], axis_z));
    }
    depths.add(p.in(m.to[axis_z], axis_z));
  }
  if (depths.empty) depths.add(p.in(path.home[axis_z], axis_z));
  // A quarter inch at least, so that a job of nothing or next to nothing
  // is still shown at a scale a person can read.
  double larger = std::max({xs.span(), ys.span(), 0.25});
  xs.widen_to(std::max(larger * 0.3, 0.25));
  ys.widen_to(std::max(larger * 0.3, 0.25));
  xs.pad(larger * 0.06);
  ys.pad(larger * 0.06);
  zs.widen_to(std::max(zs.span(), 0.1));
  // Room above the top of Z travel for its label and the home marker.
  const double z_span = zs.span();
  zs.low -= z_span * 0.08;
  zs.high += z_span * 0.22;

  // 2. The layout: the top view with equal scales on the left, the side
  //    view under it on the same X scale, the key on the right.
  const double margin = 28, key_width = 300, plot_left = margin + 58;
  const double max_plot_width = 660, max_plot_height = 540;
  const double ppi = std::min(max_plot_width / xs.span(), max_plot_height / ys.span());
  view top{plot_left, 96, xs.span() * ppi, ys.span() * ppi, xs, ys, ppi, ppi};
  double z_ppi = std::clamp(ppi, 170.0 / zs.span(), 260.0 / zs.span());
  view side{plot_left, top.top + top.height + 78, top.width, zs.span() * z_ppi, xs, zs, ppi, z_ppi};
  const double key_left = plot_left + std::max(top.width, 430.0) + 48;
  const double width = key_left + key_width + margin;
  const double height = std::max(side.top + side.height + 64, 700.0);

  picture_layout layout;
  layout.depths = depths;
  layout.top = top;
  layout.side = side;
  layout.key_left = key_left;
  layout.width = width;
  layout.height = height;
  return layout;
}

/// The document's start, with the numbers a program may check, and the
/// heading.
void write_heading(svg_writer& w, const toolpath& path, const picture_layout& layout,
                   unsigned long long feeds, unsigned long long rapids) {
  const projector p{path};
  const double width = layout.width, height = layout.height;
  w.printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
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
  w.printf(" data-feed-moves=\"%llu\" data-rapid-moves=\"%llu\" data-estimated-ms=\"%.0f\">\n", feeds,
           rapids, path.estimate_ms);
  w.put("<title>Toolpath of " + xml_text(path.script) + "</title>\n");
  w.printf("<rect width=\"%.0f\" height=\"%.0f\" fill=\"#ffffff\"/>\n", width, height);

  // Heading.
  char time[32];
  format_hms(path.estimate_ms, time, sizeof time);
  w.put("<text x=\"28\" y=\"40\" font-size=\"21\" font-weight=\"bold\" fill=\"#202124\">"
        "Toolpath of " + xml_text(path.script) + "</text>\n");
  std::string status = path.ran_to_end ? "Runs to its end"
                                       : "Stopped at " + xml_text(path.stopped_at.empty()
                                                                      ? std::string("the start")
                                                                      : path.stopped_at) +
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

/// The envelope's dashed box, from its top-left to its bottom-right corner.
void draw_envelope_box(svg_writer& w, double left, double top, double right, double bottom) {
  w.printf("<rect class=\"envelope\" x=\"%.4f\" y=\"%.4f\" width=\"%.4f\" height=\"%.4f\" "
           "fill=\"#1a73e8\" fill-opacity=\"0.04\" stroke=\"#1a73e8\" stroke-width=\"1.2\" "
           "stroke-dasharray=\"9 4\"/>\n",
           left, top, right - left, bottom - top);
}

void draw_top_view(svg_writer& w, const toolpath& path, const picture_layout& layout) {
  const projector p{path};
  const view& top = layout.top;
  const double ppi = top.px_h;
  const range& depths = layout.depths;
  w.printf("<g class=\"view-xy\" data-origin-x=\"%.4f\" data-origin-y=\"%.4f\" "
           "data-px-per-inch=\"%.6f\">\n",
           top.x(0.0), top.y(0.0), ppi);
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-size=\"14\" font-weight=\"bold\" fill=\"#202124\">"
           "Top view (X, Y)</text>\n",
           top.left, top.top - 10);
  draw_grid(w, top, "X (in)", "Y (in)");
  if (path.homed) {
    double x0 = top.x(p.in(path.envelope_min[axis_x], axis_x));
    double x1 = top.x(p.in(path.envelope_max[axis_x], axis_x));
    double y0 = top.y(p.in(path.envelope_max[axis_y], axis_y));
    double y1 = top.y(p.in(path.envelope_min[axis_y], axis_y));
    draw_envelope_box(w, x0, y0, x1, y1);
    w.printf("<text x=\"%.2f\" y=\"%.2f\" font-size=\"11\" fill=\"#1a73e8\">envelope</text>\n",
             x0 + 4, y0 - 5);
  }
  draw_moves(w, top, path, axis_x, axis_y, depths, true);
  if (path.moves.empty())
    w.printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\" font-size=\"14\" "
             "fill=\"#5f6368\">The script moves nothing%s.</text>\n",
             top.left + top.width / 2, top.top + top.height / 3,
             path.ran_to_end ? "" : " before it stops");
  draw_home_marker(w, top.x(0.0), top.y(0.0), "home", false);
  w.put("</g>\n");

}

void draw_side_view(svg_writer& w, const toolpath& path, const picture_layout& layout) {
  const projector p{path};
  const view& side = layout.side;
  const double ppi = side.px_h, z_ppi = side.px_v;
  const range& depths = layout.depths;
  w.printf("<g class=\"view-xz\" data-origin-x=\"%.4f\" data-origin-z=\"%.4f\" "
           "data-px-per-inch-x=\"%.6f\" data-px-per-inch-z=\"%.6f\">\n",
           side.x(0.0), side.y(0.0), ppi, z_ppi);
  std::string side_title = "Side view (X, Z)";
  if (std::fabs(z_ppi / ppi - 1.0) > 0.01)
    side_title += format(z_ppi > ppi ? ", Z drawn %.1f\xC3\x97 taller" : ", Z drawn %.2f\xC3\x97 as tall",
                         z_ppi / ppi);
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-size=\"14\" font-weight=\"bold\" fill=\"#202124\">",
           side.left, side.top - 10);
  w.put(side_title + "</text>\n");
  draw_grid(w, side, "X (in)", "Z (in)");
  if (path.homed) {
    double x0 = side.x(p.in(path.envelope_min[axis_x], axis_x));
    double x1 = side.x(p.in(path.envelope_max[axis_x], axis_x));
    double z0 = side.y(p.in(path.envelope_max[axis_z], axis_z));
    double z1 = side.y(p.in(path.envelope_min[axis_z], axis_z));
    draw_envelope_box(w, x0, z0, x1, z1);
  }
  double home_z = side.y(p.in(path.home[axis_z], axis_z));
  w.printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#5f6368\" "
           "stroke-width=\"1\" stroke-dasharray=\"2 3\"/>\n",
           side.left, home_z, side.left + side.width, home_z);
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-size=\"11\" fill=\"#5f6368\" text-anchor=\"end\">"
           "top of Z travel</text>\n",
           side.left + side.width - 4, home_z - 4);
  draw_moves(w, side, path, axis_x, axis_z, depths, false);
  draw_home_marker(w, side.x(0.0), home_z, "home", true);
  w.put("</g>\n");

}

/// The key: line styles, the depth colours, the envelope and home.
void draw_key(svg_writer& w, const toolpath& path, const picture_layout& layout) {
  const projector p{path};
  const double key_left = layout.key_left;
  const range& depths = layout.depths;
  double y = 104;
  w.printf("<g class=\"key\" font-size=\"12\" fill=\"#3c4043\">\n"
           "<text x=\"%.2f\" y=\"%.2f\" font-size=\"14\" font-weight=\"bold\" fill=\"#202124\">"
           "Key</text>\n",
           key_left, y - 8);
  const std::string mid = depth_colour(0.35);
  y += 14;
  w.printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" "
           "stroke-width=\"1.6\"/><text x=\"%.2f\" y=\"%.2f\">feed move (G01)</text>\n",
           key_left, y, key_left + 34, y, mid.c_str(), key_left + 44, y + 4);
  y += 22;
  w.printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" stroke-width=\"1\" "
           "stroke-dasharray=\"5 3\"/><text x=\"%.2f\" y=\"%.2f\">rapid move (G00)</text>\n",
           key_left, y, key_left + 34, y, mid.c_str(), key_left + 44, y + 4);
  y += 22;
  w.printf("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"2.6\" fill=\"%s\"/><text x=\"%.2f\" y=\"%.2f\">"
           "plunge (Z down, top view)</text>\n",
           key_left + 17, y, mid.c_str(), key_left + 44, y + 4);
  y += 22;
  w.printf("<rect x=\"%.2f\" y=\"%.2f\" width=\"34\" height=\"12\" fill=\"none\" "
           "stroke=\"#1a73e8\" stroke-width=\"1.2\" stroke-dasharray=\"9 4\"/>"
           "<text x=\"%.2f\" y=\"%.2f\">envelope since the last homing</text>\n",
           key_left, y - 6, key_left + 44, y + 4);
  y += 22;
  w.printf("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"6\" fill=\"#ffffff\" stroke=\"#202124\" "
           "stroke-width=\"1.5\"/><text x=\"%.2f\" y=\"%.2f\">home position</text>\n",
           key_left + 17, y, key_left + 44, y + 4);

  // Depth colours: a bar from the deepest end of a move to the highest.
  y += 38;
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-weight=\"bold\" fill=\"#202124\">"
           "Depth: Z at the end of each move</text>\n",
           key_left, y);
  y += 12;
  const double bar_height = 150;
  w.put("<defs><linearGradient id=\"depth\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">");
  for (int i = 0; i <= 10; ++i)
    w.printf("<stop offset=\"%.1f\" stop-color=\"%s\"/>", i / 10.0, depth_colour(i / 10.0).c_str());
  w.put("</linearGradient></defs>\n");
  w.printf("<rect class=\"depth-scale\" x=\"%.2f\" y=\"%.2f\" width=\"18\" height=\"%.2f\" "
           "fill=\"url(#depth)\" stroke=\"#9aa0a6\" data-z-low-in=\"%.4f\" "
           "data-z-high-in=\"%.4f\"/>\n",
           key_left, y, bar_height, depths.low, depths.high);
  int labels = depths.span() > 0.0 ? 5 : 1;
  for (int i = 0; i < labels; ++i) {
    double t = labels == 1 ? 0.5 : static_cast<double>(i) / (labels - 1);
    double ty = y + bar_height * (1.0 - t);
    w.printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#5f6368\"/>"
             "<text x=\"%.2f\" y=\"%.2f\">Z %.4f in</text>\n",
             key_left + 18, ty, key_left + 24, ty, key_left + 28, ty + 4,
             depths.low + t * depths.span());
  }
  w.printf("<text x=\"%.2f\" y=\"%.2f\" fill=\"#5f6368\">higher</text>\n", key_left + 130, y + 12);
  w.printf("<text x=\"%.2f\" y=\"%.2f\" fill=\"#5f6368\">deeper</text>\n", key_left + 130,
           y + bar_height);

  // The envelope in inches and steps, and home.
  y += bar_height + 40;
  w.printf("<text x=\"%.2f\" y=\"%.2f\" font-weight=\"bold\" fill=\"#202124\">Envelope%s</text>\n",
           key_left, y, path.homed ? " since the last homing" : " (never homed)");
  static const char* const upper[axis_count] = {"X", "Y", "Z"};
  for (int a = 0; a < axis_count; ++a) {
    y += 20;
    w.printf("<text x=\"%.2f\" y=\"%.2f\"><tspan font-weight=\"bold\">%s</tspan>"
             "<tspan x=\"%.2f\">",
             key_left, y, upper[a], key_left + 18);
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
    w.printf("<text x=\"%.2f\" y=\"%.2f\">%s %ld steps per %.3f in</text>\n", key_left, y,
             upper[a], static_cast<long>(path.scales[a].numerator),
             path.scales[a].denominator / 1000.0);
  }
  w.put("</g>\n");
}

}  // namespace

double steps_to_inches(int32_t steps, axis_scale scale) {
  if (scale.numerator == 0) return steps / 1000.0;
  return static_cast<double>(steps) * scale.denominator / (1000.0 * scale.numerator);
}

bool collect_toolpath(const char* script, toolpath& path) {
  path = toolpath{};
  path.script = script;
  reset_run_state();
  // The table points into this buffer, which lives for the whole run.
  char validator_text[validator_text_size];
  std::memcpy(validator_text, builtin_validator_text, validator_text_size);
  if (!reload_validator_table(validator_text)) return false;

  // 1. Hooks that collect the motion and time it; no log, no waiting, and a
  //    stand-in for any machine the script would open.
  const run_events saved_hooks = run_event_hooks();
  const bool saved_waits = dwells_wait();
  run_events& hooks = run_event_hooks();
  hooks = run_events{};
  hooks.line_started = collect_line_started;
  hooks.motion_composed = collect_motion;
  hooks.dwell = collect_dwell;
  hooks.command_issued = collect_command;
  hooks.recovery_started = collect_recovery;
  collector = collector_record{};
  collector.path = &path;
  reset_job_estimate();
  set_dwells_wait(false);
  set_device_opener(open_stand_in);

  // 2. The run.
  path.ran_to_end = run_script_file(script, nullptr);
  estimate_run_finished();
  note_homing();
  close_all_ports();

  // 3. Everything back as it was.
  set_device_opener(nullptr);
  set_dwells_wait(saved_waits);
  hooks = saved_hooks;
  free_validator_table();

  // 4. What the run left: the envelope since the last homing, the scales,
  //    the home position and where it stopped.
  const axis_model& model = axis_model_state();
  path.homed = collector.ever_homed;
  for (int a = 0; a < axis_count; ++a) {
    path.envelope_min[a] = model.axes[a].envelope_min;
    path.envelope_max[a] = model.axes[a].envelope_max;
    path.scales[a] = model.scales[a];
  }
  inches_to_steps(model.work_surface_depth, 'z', path.home[axis_z]);
  if (!path.ran_to_end && collector.line > 0) {
    char where[600];
    std::snprintf(where, sizeof where, "%s:%d", collector.files[collector.depth], collector.line);
    path.stopped_at = where;
  }
  path.estimate_ms = job_estimate_ms();
  collector.path = nullptr;
  return path.ran_to_end;
}

bool write_toolpath_svg(const toolpath& path, std::FILE* out) {
  unsigned long long feeds = 0, rapids = 0;
  for (const toolpath_move& m : path.moves) (m.rapid ? rapids : feeds)++;
  const picture_layout layout = lay_out(path);
  svg_writer w(out);
  write_heading(w, path, layout, feeds, rapids);
  draw_top_view(w, path, layout);
  draw_side_view(w, path, layout);
  draw_key(w, path, layout);
  w.put("</svg>\n");
  return std::ferror(out) == 0;
}

std::string default_svg_name(const std::string& script) {
  size_t slash = script.find_last_of("/\\");
  size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = script.rfind('.');
  std::string stem = script;
  // A leading dot names a hidden file, not an extension.
  if (dot != std::string::npos && dot > name_start) stem = script.substr(0, dot);
  std::string name = stem + ".svg";
  if (name == script) name = script + ".svg";
  return name;
}

int run_millplot(const std::string& script, const std::string& svg_path, bool& written) {
  written = false;
  // A script that cannot be read is said so here: there is nothing to draw.
  {
    static script_reader probe;
    if (!open_script_reader(probe, script.c_str())) {
      message_buffers& m = shared_message();
      format_text(m.caption, sizeof m.caption, "%s", "Cannot read the script");
      format_text(m.text, sizeof m.text, "The script \"%s\" cannot be opened.", script.c_str());
      show_buffers(m);
      return 1;
    }
    close_script_reader(probe);
  }
  if (svg_path == script) {
    message_buffers& m = shared_message();
    format_text(m.caption, sizeof m.caption, "%s", "Output would overwrite the script");
    format_text(m.text, sizeof m.text, "\"%s\" is the script itself; choose another -o FILE.",
                svg_path.c_str());
    show_buffers(m);
    return 1;
  }

  toolpath path;
  bool ran = collect_toolpath(script.c_str(), path);

  std::FILE* out = std::fopen(svg_path.c_str(), "wb");
  written = out && write_toolpath_svg(path, out);
  if (out && std::fclose(out) != 0) written = false;
  if (!written) {
    message_buffers& m = shared_message();
    format_text(m.caption, sizeof m.caption, "%s", "Cannot write the preview");
    format_text(m.text, sizeof m.text, "The picture could not be written to \"%s\".",
                svg_path.c_str());
    show_buffers(m);
    return 1;
  }
  return ran ? 0 : 1;
}

millplot_options parse_millplot_arguments(int argc, const char* const* argv) {
  millplot_options options;
  bool options_end = false;
  bool output_given = false;
  std::string script;
  bool script_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!options_end) {
      if (arg == "--") {
        options_end = true;
        continue;
      }
      if (arg == "--help" || arg == "-h") {
        options.help = true;
        continue;
      }
      if (arg == "--version") {
        options.version = true;
        continue;
      }
      if (arg == "-o" || arg == "--output") {
        if (i + 1 >= argc) {
          options.error = arg + " needs a file name";
          return options;
        }
        if (output_given) {
          options.error = "only one -o FILE may be given";
          return options;
        }
        options.output = argv[++i];
        output_given = true;
        continue;
      }
    }
    if (script_given) script += ' ';
    script += arg;
    script_given = true;
  }
  options.script = script;
  if (!options.help && !options.version) {
    if (!script_given || script.empty())
      options.error = "no script given";
    else if (output_given && options.output.empty())
      options.error = "-o needs a file name";
    else if (!output_given)
      options.output = default_svg_name(script);
  }
  return options;
}
