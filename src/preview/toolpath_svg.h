// The toolpath drawn as an SVG picture for a person to look at: the XY view
// with feed and rapid moves told apart and the depth in colour, the envelope
// with its extents in inches and steps, the home position, and a side view
// of Z against X. The document's root element carries the numbers a program
// may check (data-* attributes).
#pragma once

#include <cstdio>

#include "preview/toolpath.h"

/// Writes the SVG picture. False when writing failed.
bool write_toolpath_svg(const toolpath& path, std::FILE* out);
