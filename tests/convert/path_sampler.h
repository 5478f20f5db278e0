// An independent reading of a toolpath for the converter's tests: a small
// interpreter of the G-code the test samples use, with its own arc
// geometry, that turns a job into fine straight pieces; a reader of the
// converted output; and the largest distance from the points of one path
// to the other, found through a grid of cells.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace sampler {

struct p3 {
  double v[3] = {0, 0, 0};
};

struct piece {
  p3 a, b;
};

inline p3 make(double x, double y, double z) {
  p3 p;
  p.v[0] = x, p.v[1] = y, p.v[2] = z;
  return p;
}

inline double distance_to_piece(const p3& p, const piece& s) {
  double d[3], q[3], len2 = 0, dot = 0;
  for (int i = 0; i < 3; ++i) {
    d[i] = s.b.v[i] - s.a.v[i];
    q[i] = p.v[i] - s.a.v[i];
    len2 += d[i] * d[i];
    dot += d[i] * q[i];
  }
  double t = len2 > 0 ? std::clamp(dot / len2, 0.0, 1.0) : 0.0;
  double sum = 0;
  for (int i = 0; i < 3; ++i) sum += (q[i] - t * d[i]) * (q[i] - t * d[i]);
  return std::sqrt(sum);
}

// Points every `spacing` along the pieces, ends included.
inline std::vector<p3> points_along(const std::vector<piece>& pieces, double spacing) {
  std::vector<p3> points;
  for (const piece& s : pieces) {
    double len = 0;
    for (int i = 0; i < 3; ++i) len += (s.b.v[i] - s.a.v[i]) * (s.b.v[i] - s.a.v[i]);
    len = std::sqrt(len);
    int n = std::max(1, static_cast<int>(std::ceil(len / spacing)));
    for (int k = 0; k <= n; ++k) {
      p3 p;
      for (int i = 0; i < 3; ++i) p.v[i] = s.a.v[i] + (s.b.v[i] - s.a.v[i]) * k / n;
      points.push_back(p);
    }
  }
  return points;
}

// The largest distance from any of `points` to the nearest piece; a point
// with no piece within `cell` counts as `cell`.
inline double farthest(const std::vector<p3>& points, const std::vector<piece>& pieces,
                       double cell = 0.02) {
  std::unordered_map<int64_t, std::vector<int>> grid;
  auto key = [cell](const p3& p, int dx, int dy, int dz) {
    int64_t x = static_cast<int64_t>(std::floor(p.v[0] / cell)) + dx + (1 << 20);
    int64_t y = static_cast<int64_t>(std::floor(p.v[1] / cell)) + dy + (1 << 20);
    int64_t z = static_cast<int64_t>(std::floor(p.v[2] / cell)) + dz + (1 << 20);
    return (x << 42) | (y << 21) | z;
  };
  for (int index = 0; index < static_cast<int>(pieces.size()); ++index) {
    for (const p3& p : points_along({pieces[index]}, cell / 4)) {
      std::vector<int>& bucket = grid[key(p, 0, 0, 0)];
      if (bucket.empty() || bucket.back() != index) bucket.push_back(index);
    }
  }
  double worst = 0;
  for (const p3& p : points) {
    double best = cell;
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dz = -1; dz <= 1; ++dz) {
          auto found = grid.find(key(p, dx, dy, dz));
          if (found == grid.end()) continue;
          for (int index : found->second)
            best = std::min(best, distance_to_piece(p, pieces[index]));
        }
    worst = std::max(worst, best);
  }
  return worst;
}

// An arc cut into pieces short enough that they stay within a millionth of
// an inch of it. Axes are given per plane: a, b in the plane, c across.
inline void add_arc(std::vector<piece>& pieces, const int axes[3], const p3& from, const p3& to,
                    double ca, double cb, bool clockwise, int turns) {
  const double pi = 3.14159265358979323846;
  double a0 = from.v[axes[0]] - ca, b0 = from.v[axes[1]] - cb;
  double a1 = to.v[axes[0]] - ca, b1 = to.v[axes[1]] - cb;
  double r = std::hypot(a0, b0);
  double start = std::atan2(b0, a0), end = std::atan2(b1, a1);
  double sweep = clockwise ? start - end : end - start;  // positive along the direction of travel
  while (sweep <= 1e-9) sweep += 2 * pi;
  if (std::hypot(a1 - a0, b1 - b0) < 1e-7) sweep = 2 * pi;
  sweep += 2 * pi * (turns - 1);
  int n = std::max(16, static_cast<int>(std::ceil(sweep / std::sqrt(8e-6 / std::max(r, 1e-6)))));
  p3 previous = from;
  for (int k = 1; k <= n; ++k) {
    double f = static_cast<double>(k) / n;
    double angle = start + (clockwise ? -1 : 1) * sweep * f;
    p3 p = previous;
    if (k == n) {
      p = to;
    } else {
      p.v[axes[0]] = ca + r * std::cos(angle);
      p.v[axes[1]] = cb + r * std::sin(angle);
      p.v[axes[2]] = from.v[axes[2]] + (to.v[axes[2]] - from.v[axes[2]]) * f;
    }
    pieces.push_back({previous, p});
    previous = p;
  }
}

// The input path of a sample job (only the G-code the samples use).
inline std::vector<piece> input_path(const std::string& text, double home_z = 2.11) {
  std::vector<piece> pieces;
  p3 at = make(0, 0, home_z);
  double scale = 1;
  bool absolute = true, retract_to_start = true;
  int plane = 17, motion = 0, last_linear = 0;
  double cycle_r = 0, cycle_z = 0, cycle_start = 0;
  bool in_cycle = false;
  std::istringstream lines(text);
  std::string line;
  auto move = [&](const p3& to) {
    pieces.push_back({at, to});
    at = to;
  };
  while (std::getline(lines, line)) {
    std::map<char, double> words;
    std::vector<double> g;
    bool skip = false;
    for (size_t i = 0; i < line.size();) {
      char c = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
      if (c == '(') {
        i = line.find(')', i);
        if (i == std::string::npos) break;
        ++i;
        continue;
      }
      if (c == ';') break;
      if (c == '%') {
        ++i;
        continue;
      }
      if (c < 'A' || c > 'Z') {
        ++i;
        continue;
      }
      if (c == 'R' && line.compare(i, 3, "REM") == 0) {
        skip = true;
        break;
      }
      size_t j = i + 1;
      while (j < line.size() && line[j] == ' ') ++j;
      char* stop = nullptr;
      double value = std::strtod(line.c_str() + j, &stop);
      i = static_cast<size_t>(stop - line.c_str());
      if (c == 'G')
        g.push_back(value);
      else
        words[c] = value;
    }
    if (skip) continue;
    bool home = false, machine = false, cycle_word = false;
    for (double code : g) {
      int c10 = static_cast<int>(std::lround(code * 10));
      switch (c10) {
        case 0:
        case 10:
        case 20:
        case 30:
          motion = c10 / 10;
          if (motion < 2) last_linear = motion;
          break;
        case 170:
        case 180:
        case 190:
          plane = c10 / 10;
          break;
        case 200:
          scale = 1;
          break;
        case 210:
          scale = 1 / 25.4;
          break;
        case 900:
          absolute = true;
          break;
        case 910:
          absolute = false;
          break;
        case 280:
          home = true;
          break;
        case 530:
          machine = true;
          break;
        case 980:
          retract_to_start = true;
          break;
        case 990:
          retract_to_start = false;
          break;
        case 800:
          motion = last_linear;
          in_cycle = false;
          break;
        case 730:
        case 810:
        case 820:
        case 830:
          if (!in_cycle) cycle_start = at.v[2];
          in_cycle = true, motion = c10 / 10, cycle_word = true;
          break;
        default:
          break;
      }
    }
    p3 to = at;
    const char axis_letters[3] = {'X', 'Y', 'Z'};
    bool has_axis = false;
    for (int i = 0; i < 3; ++i)
      if (words.count(axis_letters[i])) {
        has_axis = true;
        to.v[i] =
            absolute ? words[axis_letters[i]] * scale : at.v[i] + words[axis_letters[i]] * scale;
      }
    if (home) {
      move(make(at.v[0], at.v[1], home_z));
      move(make(0, 0, home_z));
      continue;
    }
    if (machine) {
      if (words.count('Z')) move(make(at.v[0], at.v[1], home_z + words['Z'] * scale));
      continue;
    }
    if (motion >= 73) {
      if (!cycle_word && !has_axis) continue;
      if (words.count('R')) cycle_r = absolute ? words['R'] * scale : at.v[2] + words['R'] * scale;
      if (words.count('Z')) cycle_z = absolute ? words['Z'] * scale : cycle_r + words['Z'] * scale;
      double clear = retract_to_start ? std::max(cycle_start, cycle_r) : cycle_r;
      double level = std::max(at.v[2], cycle_r);
      // As a set of points the pecks retrace one vertical line.
      move(make(at.v[0], at.v[1], level));
      move(make(to.v[0], to.v[1], level));
      move(make(to.v[0], to.v[1], cycle_z));
      move(make(to.v[0], to.v[1], clear));
      continue;
    }
    bool arc_words = words.count('I') || words.count('J') || words.count('K') || words.count('R');
    if (motion >= 2 && (has_axis || arc_words)) {
      int axes[3] = {0, 1, 2};
      if (plane == 18) axes[0] = 2, axes[1] = 0, axes[2] = 1;
      if (plane == 19) axes[0] = 1, axes[1] = 2, axes[2] = 0;
      const char offsets[3] = {'I', 'J', 'K'};
      double ca, cb;
      bool clockwise = motion == 2;
      if (words.count('R')) {
        double r = words['R'] * scale;
        double da = to.v[axes[0]] - at.v[axes[0]], db = to.v[axes[1]] - at.v[axes[1]];
        double d = std::hypot(da, db);
        double h = std::sqrt(std::max(0.0, r * r - d * d / 4));
        // The centre lies right of the travel for G2, left for G3; a
        // negative radius puts it on the other side.
        double side = (clockwise ? 1 : -1) * (r > 0 ? 1 : -1);
        ca = (at.v[axes[0]] + to.v[axes[0]]) / 2 + side * h * db / d;
        cb = (at.v[axes[1]] + to.v[axes[1]]) / 2 - side * h * da / d;
      } else {
        ca = at.v[axes[0]] + words[offsets[axes[0]]] * scale;
        cb = at.v[axes[1]] + words[offsets[axes[1]]] * scale;
      }
      int turns = words.count('P') ? static_cast<int>(words['P']) : 1;
      add_arc(pieces, axes, at, to, ca, cb, clockwise, turns);
      at = to;
      continue;
    }
    if (has_axis) move(to);
  }
  return pieces;
}

// The path of a converted job: millrun starts at its home.
inline std::vector<piece> output_path(const std::string& text, double home_z = 2.11) {
  std::vector<piece> pieces;
  p3 at = make(0, 0, home_z);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("G00 ", 0) != 0 && line.rfind("G01 ", 0) != 0) continue;
    p3 to = at;
    for (size_t i = 4; i < line.size() && line[i] != '('; ++i) {
      if (line[i] == 'X' || line[i] == 'Y' || line[i] == 'Z')
        to.v[line[i] - 'X'] = std::strtod(line.c_str() + i + 1, nullptr);
    }
    pieces.push_back({at, to});
    at = to;
  }
  return pieces;
}

}  // namespace sampler
