#include "preview/svg_elements.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

void svg_writer::put(const std::string& text) {
  if (text_)
    text_->append(text);
  else
    std::fputs(text.c_str(), out_);
}

void svg_writer::put(const char* text) {
  if (text_)
    text_->append(text);
  else
    std::fputs(text, out_);
}

void svg_writer::printf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  if (!text_) {
    std::vfprintf(out_, fmt, args);
    va_end(args);
    return;
  }
  va_list again;
  va_copy(again, args);
  char small[512];
  const int length = std::vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
    text_->append(small, static_cast<size_t>(length));
  } else if (length > 0) {
    const size_t start = text_->size();
    text_->resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(&(*text_)[start], static_cast<size_t>(length) + 1, fmt, again);
    text_->resize(start + static_cast<size_t>(length));
  }
  va_end(again);
}

std::string xml_text(const std::string& text) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      switch (c) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&apos;";
          break;
        default:
          out += c < 0x20 ? '?' : static_cast<char>(c);
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

std::string format_number(const char* fmt, double a, double b) {
  char text[64];
  std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

namespace {

struct rgb {
  double r, g, b;
};

// Deep cuts dark, moves near the top of Z light.
constexpr rgb depth_stops[] = {
    {0x2d, 0x0b, 0x59}, {0x6a, 0x17, 0x6e}, {0xa8, 0x30, 0x6b},
    {0xd8, 0x4e, 0x4b}, {0xf1, 0x80, 0x2d}, {0xe9, 0xb0, 0x1f},
};
constexpr int depth_stop_count = sizeof depth_stops / sizeof depth_stops[0];

}  // namespace

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

void draw_grid(svg_writer& w, const plot_view& v, const char* h_name, const char* v_name) {
  double hs = tick_step(v.horizontal.span(), std::max(2, static_cast<int>(v.width / 90)));
  double vs = tick_step(v.vertical.span(), std::max(2, static_cast<int>(v.height / 60)));
  int hd = tick_decimals(hs), vd = tick_decimals(vs);
  w.printf(
      "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"#fbfbfc\" "
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
  w.printf(
      "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\" font-size=\"12\" "
      "transform=\"rotate(-90 %.2f %.2f)\">%s</text>\n",
      v.left - 44, v.top + v.height / 2, v.left - 44, v.top + v.height / 2, v_name);
  w.put("</g>\n");
}

void draw_envelope_box(svg_writer& w, double left, double top, double right, double bottom) {
  w.printf(
      "<rect class=\"envelope\" x=\"%.4f\" y=\"%.4f\" width=\"%.4f\" height=\"%.4f\" "
      "fill=\"#1a73e8\" fill-opacity=\"0.04\" stroke=\"#1a73e8\" stroke-width=\"1.2\" "
      "stroke-dasharray=\"9 4\"/>\n",
      left, top, right - left, bottom - top);
}

void draw_home_marker(svg_writer& w, double x, double y, const char* label, bool label_below) {
  w.printf(
      "<g class=\"home\" data-x=\"%.2f\" data-y=\"%.2f\">"
      "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"7\" fill=\"#ffffff\" stroke=\"#202124\" "
      "stroke-width=\"1.5\"/>"
      "<path d=\"M%.2f %.2fh14M%.2f %.2fv14\" stroke=\"#202124\" stroke-width=\"1.2\"/>"
      "<text x=\"%.2f\" y=\"%.2f\" font-size=\"11\" fill=\"#202124\">%s</text></g>\n",
      x, y, x, y, x - 7, y, x, y - 7, x + 10, label_below ? y + 19 : y - 9, label);
}
