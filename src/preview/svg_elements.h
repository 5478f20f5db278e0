// The pieces of SVG the toolpath picture is made of: a writer, text made
// safe for XML, the colour of a depth, and the elements every view has (the
// grid with its ticks, the envelope's box, the home marker).
#pragma once

#include <cstdio>
#include <string>

#include "common/printf_format.h"
#include "preview/preview_layout.h"

/// Writes the document's text to a stream, or appends it to a string;
/// errors are left for the stream to report (std::ferror) once the document
/// is written.
class svg_writer {
 public:
  explicit svg_writer(std::FILE* out) : out_(out) {}
  explicit svg_writer(std::string& text) : text_(&text) {}
  void put(const std::string& text);
  void put(const char* text);
  void printf(const char* fmt, ...) MILLRUN_PRINTF_FORMAT(2, 3);

 private:
  std::FILE* out_ = nullptr;
  std::string* text_ = nullptr;
};

/// `text` with the XML specials escaped; bytes that are not UTF-8 become
/// U+FFFD, so that an odd file name cannot spoil the document.
std::string xml_text(const std::string& text);

/// `fmt` filled with up to two numbers, as a string (for short texts).
std::string format_number(const char* fmt, double a, double b = 0.0);

/// The colour of depth: `t` 0 for the deepest Z of the job (dark), 1 for the
/// highest (light); "#rrggbb".
std::string depth_colour(double t);

/// The plot area of a view, its grid at round inches, the tick labels and
/// the names of its two axes.
void draw_grid(svg_writer& w, const plot_view& v, const char* h_name, const char* v_name);

/// The envelope's dashed box, from its top-left to its bottom-right corner.
void draw_envelope_box(svg_writer& w, double left, double top, double right, double bottom);

/// The home marker; its label goes above it, or below where `label_below`.
void draw_home_marker(svg_writer& w, double x, double y, const char* label, bool label_below);
