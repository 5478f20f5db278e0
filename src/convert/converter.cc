#include "convert/converter.h"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstring>

#include "convert/arc_chords.h"
#include "convert/word_reader.h"

namespace {

constexpr double largest_coordinate = 100000;  // inches; beyond this a job is certainly wrong
constexpr long longest_line = 8192;

// ---------------------------------------------------------------------------
// Messages

std::string quoted(const char* line, size_t length) {
  size_t shown = std::min<size_t>(length, 200);
  std::string text(line, shown);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  if (shown < length) text += "...";
  return text;
}

bool refuse(convert_state& state, long number, const std::string& text, const std::string& why) {
  state.failure = "millprep: " + state.input_name + ":" + std::to_string(number) + ": " + why + "\n    " +
                  text + "\n";
  state.failure_code = 1;
  return false;
}

void warn(convert_state& state, long number, const std::string& why) {
  if (!state.quiet)
    std::fprintf(stderr, "millprep: %s:%ld: warning: %s\n", state.input_name.c_str(), number, why.c_str());
}

// ---------------------------------------------------------------------------
// Output parts

std::string header_options(const prep_options& options) {
  char tolerance[64];
  std::snprintf(tolerance, sizeof tolerance, "tolerance %.4f in", options.tolerance);
  std::string text = tolerance;
  if (!options.given.empty()) text += "; options: " + options.given;
  return text;
}

bool begin_part(convert_state& state) {
  ++state.part;
  state.part_begun = true;
  state.cut = false;
  if (!state.measure_only) {
    if (state.sink) {
      state.file = state.sink;
    } else if (state.options->output.empty()) {
      state.file = stdout;
    } else {
      std::string final_name = state.options->split_tools ? part_file_name(state.options->output, state.part)
                                                          : state.options->output;
      std::string temp_name = final_name + ".millprep-tmp";
      state.file = std::fopen(temp_name.c_str(), "wb");
      if (!state.file) {
        state.failure = "millprep: cannot write " + temp_name + "\n";
        state.failure_code = 2;
        return false;
      }
      std::setvbuf(state.file, nullptr, _IOFBF, 1 << 16);
      state.temp_names.push_back(temp_name);
      state.final_names.push_back(final_name);
    }
  }
  state.writer.file = state.file;
  // The header uses script comments, which millrun skips, so that homing
  // waits for G20 and any depth keyword of the job comes before it.
  std::string line = "// Converted by millprep from " + state.input_name + "; " + header_options(*state.options);
  write_text_line(state.writer, line.c_str());
  if (state.options->split_tools) {
    char part[96];
    if (state.has_tool) std::snprintf(part, sizeof part, "// Part %d of the job, tool T%g", state.part, state.tool);
    else std::snprintf(part, sizeof part, "// Part %d of the job, tool not named", state.part);
    write_text_line(state.writer, part);
  }
  for (const std::string& keyword : state.keyword_lines) write_text_line(state.writer, keyword.c_str());
  write_text_line(state.writer, "G20");
  write_text_line(state.writer, "G90");
  // millrun homes on its first G-code line: the part begins at its home.
  writer_begin_at(state.writer, 0, 0, state.home_z);
  if (!state.position_set) {
    state.position = {-state.shift[0], -state.shift[1], state.home_z - state.shift[2]};
    state.position_set = true;
  }
  return true;
}

bool end_part(convert_state& state) {
  bool ok = true;
  if (state.file && state.file != stdout && state.file != state.sink) {
    ok = std::fflush(state.file) == 0 && !std::ferror(state.file);
    ok = std::fclose(state.file) == 0 && ok;
  } else if (state.file) {
    ok = std::fflush(state.file) == 0;
  }
  state.file = nullptr;
  state.writer.file = nullptr;
  state.part_begun = false;
  if (!ok) {
    state.failure = "millprep: cannot write " +
                    (state.temp_names.empty() ? std::string("standard output") : state.temp_names.back()) + "\n";
    state.failure_code = 2;
  }
  return ok;
}

bool ensure_part(convert_state& state) { return state.part_begun || begin_part(state); }

// ---------------------------------------------------------------------------
// Moves

point3 to_machine(const convert_state& state, const point3& p) {
  return {p.x + state.shift[0], p.y + state.shift[1], p.z + state.shift[2]};
}

// How far rounding to 0.0001 in carries a point.
double rounding_of(const convert_state& state, const point3& p) {
  point3 m = to_machine(state, p);
  double dx = to_ten_thousandths(m.x) / 10000.0 - m.x;
  double dy = to_ten_thousandths(m.y) / 10000.0 - m.y;
  double dz = to_ten_thousandths(m.z) / 10000.0 - m.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void note_deviation(convert_state& state, double deviation) {
  state.totals.deviation = std::max(state.totals.deviation, deviation);
}

void write_point(convert_state& state, bool rapid, const point3& p, long first, long last) {
  point3 m = to_machine(state, p);
  write_motion(state.writer, rapid, m.x, m.y, m.z, first, last);
}

void flush_run(convert_state& state) {
  merge_run& run = state.run;
  if (!run.open) return;
  write_point(state, false, run.end, run.first_line, run.last_line);
  state.totals.merged += run.join_count;
  note_deviation(state, run.deviation + rounding_of(state, run.end));
  run.open = false;
}

// Everything that is not a merged feed move writes what the run holds first,
// so that the output keeps the input's order.
bool before_output(convert_state& state) {
  flush_run(state);
  return ensure_part(state);
}

// A tool change or program stop between moves: refused, or a new part.
bool take_pending_break(convert_state& state) {
  if (state.break_line == 0) return true;
  if (!state.options->split_tools)
    return refuse(state, state.break_line, state.break_text,
                  state.break_why + " between moves: millrun runs one tool; give --split-tools to write one "
                                    "file per part and change the tool between runs");
  flush_run(state);
  if (state.part_begun && !end_part(state)) return false;
  state.break_line = 0;
  return begin_part(state);
}

bool check_range(convert_state& state, long number, const std::string& text, const point3& p) {
  if (std::fabs(p.x) > largest_coordinate || std::fabs(p.y) > largest_coordinate ||
      std::fabs(p.z) > largest_coordinate)
    return refuse(state, number, text, "a target lies more than 100000 in from the origin");
  return true;
}

/// One move of the job to `to` (job inches). Home moves are left out of the
/// extent that --fit places.
bool emit_move(convert_state& state, bool rapid, const point3& to, long number, bool home_move = false) {
  if (!take_pending_break(state) || !ensure_part(state)) return false;
  if (!home_move) {
    if (!state.fit_seen || to.x < state.fit_least[0]) state.fit_least[0] = to.x;
    if (!state.fit_seen || to.y < state.fit_least[1]) state.fit_least[1] = to.y;
    state.fit_seen = true;
  }
  if (rapid || !state.options->merge) {
    flush_run(state);
    write_point(state, rapid, to, number, number);
    note_deviation(state, rounding_of(state, to));
  } else {
    double worst = 0;
    // NOTE: the joins get the tolerance less what rounding the two ends
    // can add, so the written line stays within the tolerance.
    if (run_extends_to(state.run, to, state.options->tolerance - rounding_reach, worst)) {
      extend_run(state.run, to, number, worst);
    } else {
      flush_run(state);
      begin_run(state.run, state.position, to, number);
    }
    state.cut = true;
  }
  state.position = to;
  return true;
}

// ---------------------------------------------------------------------------
// Words

// The axes of each plane: in-plane a and b, then the axis across it.
void plane_axes(int plane, int axes[3]) {
  if (plane == 18) axes[0] = 2, axes[1] = 0, axes[2] = 1;
  else if (plane == 19) axes[0] = 1, axes[1] = 2, axes[2] = 0;
  else axes[0] = 0, axes[1] = 1, axes[2] = 2;
}

double& coordinate(point3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }
double coordinate(const point3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

double unit_scale(const convert_state& state) { return state.units == 21 ? 1 / 25.4 : 1.0; }

bool has_axis_words(const gcode_block& block) {
  return block_has(block, 'X') || block_has(block, 'Y') || block_has(block, 'Z');
}

bool need_units(convert_state& state, long number, const std::string& text) {
  if (state.units != 0) return true;
  if (state.options->units != 0) {
    state.units = state.options->units;
    return true;
  }
  return refuse(state, number, text,
                "the job does not say whether it is in inches (G20) or millimetres (G21) before its first "
                "coordinate; give --units in or --units mm");
}

// The target of the axis words, absolute or incremental.
point3 target_of(const convert_state& state, const gcode_block& block) {
  point3 target = state.position;
  double scale = unit_scale(state);
  static const char letters[3] = {'X', 'Y', 'Z'};
  for (int axis = 0; axis < 3; ++axis) {
    if (!block_has(block, letters[axis])) continue;
    double value = block_value(block, letters[axis]) * scale;
    coordinate(target, axis) = state.absolute ? value : coordinate(state.position, axis) + value;
  }
  return target;
}

std::string number_text(double value) {
  char text[48];
  if (value == std::floor(value) && std::fabs(value) < 1e12) std::snprintf(text, sizeof text, "%.0f", value);
  else std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// ---------------------------------------------------------------------------
// The G-codes a three-axis job may hold, and what becomes of each.

enum class g_role { motion, dwell, plane, units, distance, arc_distance, retract, home, machine,
                    cancel_cycle, ignored, refused };

struct g_entry {
  int code;
  g_role role;
  const char* why;  // for refused codes
};

const g_entry g_table[] = {
    {0, g_role::motion, nullptr}, {10, g_role::motion, nullptr}, {20, g_role::motion, nullptr},
    {30, g_role::motion, nullptr}, {40, g_role::dwell, nullptr},
    {170, g_role::plane, nullptr}, {180, g_role::plane, nullptr}, {190, g_role::plane, nullptr},
    {200, g_role::units, nullptr}, {210, g_role::units, nullptr},
    {280, g_role::home, nullptr}, {300, g_role::home, nullptr},
    {400, g_role::ignored, nullptr}, {430, g_role::ignored, nullptr}, {490, g_role::ignored, nullptr},
    {530, g_role::machine, nullptr}, {540, g_role::ignored, nullptr},
    {610, g_role::ignored, nullptr}, {611, g_role::ignored, nullptr}, {640, g_role::ignored, nullptr},
    {690, g_role::ignored, nullptr}, {150, g_role::ignored, nullptr}, {500, g_role::ignored, nullptr},
    {921, g_role::ignored, nullptr}, {922, g_role::ignored, nullptr},
    {730, g_role::motion, nullptr}, {810, g_role::motion, nullptr}, {820, g_role::motion, nullptr},
    {830, g_role::motion, nullptr}, {800, g_role::cancel_cycle, nullptr},
    {900, g_role::distance, nullptr}, {910, g_role::distance, nullptr},
    {901, g_role::arc_distance, nullptr}, {911, g_role::arc_distance, nullptr},
    {930, g_role::ignored, nullptr}, {940, g_role::ignored, nullptr}, {950, g_role::ignored, nullptr},
    {980, g_role::retract, nullptr}, {990, g_role::retract, nullptr},
    {410, g_role::refused, "cutter compensation (G41/G42) is not supported: millrun moves the tool's centre "
                           "along the path as written; post the job with compensation done in the CAM program"},
    {420, g_role::refused, "cutter compensation (G41/G42) is not supported: millrun moves the tool's centre "
                           "along the path as written; post the job with compensation done in the CAM program"},
    {920, g_role::refused, "G92 offsets are not supported: they move the origin of every later coordinate"},
    {923, g_role::refused, "G92 offsets are not supported: they move the origin of every later coordinate"},
    {100, g_role::refused, "G10 offsets are not supported: they move the origin of every later coordinate"},
    {520, g_role::refused, "G52 offsets are not supported: they move the origin of every later coordinate"},
    {160, g_role::refused, "polar coordinates (G16) are not supported: post the job with X, Y and Z"},
    {510, g_role::refused, "scaling (G51) is not supported: post the job at its size"},
    {680, g_role::refused, "rotation (G68) is not supported: post the job as it is to be cut"},
    {281, g_role::refused, "G28.1/G30.1 set the controller's own home: millrun's home is fixed"},
    {301, g_role::refused, "G28.1/G30.1 set the controller's own home: millrun's home is fixed"},
};

const char* refused_g_why(int code) {
  if (code >= 550 && code <= 593)
    return "work offsets G55-G59 are not supported: the job does not state them; post the job in G54";
  if (code >= 380 && code <= 389) return "probing (G38) is not supported: millrun has no probe";
  if (code == 840 || code == 841 || code == 742 || code == 740 || (code >= 850 && code <= 890))
    return "this canned cycle is not supported (G73, G81, G82 and G83 are): post it as plain moves";
  return "this G-code is not supported by millprep";
}

const g_entry* find_g(int code) {
  for (const g_entry& entry : g_table)
    if (entry.code == code) return &entry;
  return nullptr;
}

std::string g_name(int code) {
  char text[16];
  if (code % 10) std::snprintf(text, sizeof text, "G%d.%d", code / 10, code % 10);
  else std::snprintf(text, sizeof text, "G%d", code / 10);
  return text;
}

// ---------------------------------------------------------------------------
// Arcs

bool convert_arc(convert_state& state, const gcode_block& block, long number, const std::string& text) {
  int axes[3];
  plane_axes(state.plane, axes);
  point3 start = state.position;
  point3 end = target_of(state, block);
  if (!check_range(state, number, text, end)) return false;
  double scale = unit_scale(state);
  bool clockwise = state.motion == 2;
  int turns = 1;
  if (block_has(block, 'P')) {
    double p = block_value(block, 'P');
    if (p < 1 || p != std::floor(p) || p > 10000)
      return refuse(state, number, text, "the P word of an arc counts its turns and must be a whole number from 1");
    turns = static_cast<int>(p);
  }
  double a0 = coordinate(start, axes[0]), b0 = coordinate(start, axes[1]), c0 = coordinate(start, axes[2]);
  double a1 = coordinate(end, axes[0]), b1 = coordinate(end, axes[1]), c1 = coordinate(end, axes[2]);
  static const char offset_letters[3] = {'I', 'J', 'K'};
  char la = offset_letters[axes[0]], lb = offset_letters[axes[1]];
  arc_path arc;
  double off_by = 0;
  arc_fault fault;
  if (block_has(block, 'R')) {
    fault = arc_from_radius(a0, b0, c0, a1, b1, c1, block_value(block, 'R') * scale, clockwise, turns, arc, off_by);
  } else if (block_has(block, la) || block_has(block, lb)) {
    double ca = block_value(block, la) * scale, cb = block_value(block, lb) * scale;
    if (!state.arc_centers_absolute) ca += a0, cb += b0;
    fault = arc_from_center(a0, b0, c0, a1, b1, c1, ca, cb, clockwise, turns, arc, off_by);
  } else {
    return refuse(state, number, text,
                  std::string("an arc needs its centre (") + la + " and " + lb + " in this plane) or a radius R");
  }
  char why[200];
  switch (fault) {
    case arc_fault::none:
      break;
    case arc_fault::zero_radius:
      return refuse(state, number, text, "the arc's radius is zero");
    case arc_fault::end_off_circle:
      std::snprintf(why, sizeof why,
                    "the arc's end point is %.4f in off its circle (at most %.4f in is taken as rounding)",
                    std::fabs(off_by), arc_end_allowance(arc.start_radius > 0 ? arc.start_radius : 0));
      return refuse(state, number, text, why);
    case arc_fault::radius_too_small:
      std::snprintf(why, sizeof why, "the arc's radius is %.4f in too small to reach its end point",
                    std::fabs(off_by));
      return refuse(state, number, text, why);
    case arc_fault::radius_full_circle:
      return refuse(state, number, text,
                    "an arc in the R form cannot end where it starts: its centre is not known; use I, J, K");
  }
  if (!take_pending_break(state) || !before_output(state)) return false;
  chord_plan plan = plan_chords(arc, state.options->tolerance);
  ++state.totals.arcs;
  point3 from = start;
  double sweep = std::fabs(arc.sweep);
  for (int i = 1; i <= plan.count; ++i) {
    point3 to;
    if (i == plan.count) {
      to = end;
    } else {
      double a, b, c;
      chord_vertex(arc, plan, i, a, b, c);
      coordinate(to, axes[0]) = a;
      coordinate(to, axes[1]) = b;
      coordinate(to, axes[2]) = c;
    }
    // The deviation as written: the chord between the rounded points.
    point3 mf = to_machine(state, from), mt = to_machine(state, to);
    double shift_a = state.shift[axes[0]], shift_b = state.shift[axes[1]];
    double fa = to_ten_thousandths(coordinate(mf, axes[0])) / 10000.0 - shift_a;
    double fb = to_ten_thousandths(coordinate(mf, axes[1])) / 10000.0 - shift_b;
    double ta = to_ten_thousandths(coordinate(mt, axes[0])) / 10000.0 - shift_a;
    double tb = to_ten_thousandths(coordinate(mt, axes[1])) / 10000.0 - shift_b;
    double along = sweep > 0 ? (i - 0.5) / plan.count : 0;
    note_deviation(state, chord_deviation(arc, along, fa, fb, ta, tb));
    if (!state.fit_seen || to.x < state.fit_least[0]) state.fit_least[0] = to.x;
    if (!state.fit_seen || to.y < state.fit_least[1]) state.fit_least[1] = to.y;
    state.fit_seen = true;
    write_point(state, false, to, number, number);
    from = to;
  }
  state.position = end;
  state.cut = true;
  return true;
}

// ---------------------------------------------------------------------------
// Drilling cycles

bool convert_cycle(convert_state& state, const gcode_block& block, long number, const std::string& text,
                   bool cycle_word) {
  if (!cycle_word && !has_axis_words(block) && !block_has(block, 'R')) return true;
  if (!need_units(state, number, text)) return false;
  double scale = unit_scale(state);
  drill_cycle& cycle = state.cycle;
  cycle.code = state.motion;
  if (block_has(block, 'R')) {
    double r = block_value(block, 'R') * scale;
    cycle.r_level = state.absolute ? r : state.position.z + r;
    state.cycle_has_r = true;
  }
  if (block_has(block, 'Z')) {
    double z = block_value(block, 'Z') * scale;
    cycle.bottom = state.absolute ? z : cycle.r_level + z;
    state.cycle_has_z = true;
  }
  if (block_has(block, 'Q')) cycle.peck = std::fabs(block_value(block, 'Q')) * scale;
  if (block_has(block, 'P')) cycle.dwell_ms = block_value(block, 'P') * (state.options->dwell_in_ms ? 1 : 1000);
  if (!state.cycle_has_r || !state.cycle_has_z)
    return refuse(state, number, text, "a drilling cycle needs its R level and its Z depth");
  if ((cycle.code == 73 || cycle.code == 83) && cycle.peck <= 0)
    return refuse(state, number, text, "a pecking cycle (G73, G83) needs a peck depth Q above 0");
  if (cycle.bottom >= cycle.r_level)
    return refuse(state, number, text, "the cycle's depth Z is not below its R level");
  if (cycle.dwell_ms < 0 || cycle.dwell_ms > 4294967295.0)
    return refuse(state, number, text, "the dwell P is negative or longer than millrun can wait");
  point3 hole = state.position;
  if (block_has(block, 'X')) hole.x = state.absolute ? block_value(block, 'X') * scale : hole.x + block_value(block, 'X') * scale;
  if (block_has(block, 'Y')) hole.y = state.absolute ? block_value(block, 'Y') * scale : hole.y + block_value(block, 'Y') * scale;
  hole.z = cycle.bottom;
  if (!check_range(state, number, text, hole) || !check_range(state, number, text, {0, 0, cycle.r_level}))
    return false;
  cycle.clear = state.retract_to_start ? std::max(state.cycle_start_z, cycle.r_level) : cycle.r_level;
  bool ok = true;
  expand_drill_cycle(cycle, state.position.z, [&](const cycle_step& step) {
    if (!ok) return;
    point3 to = state.position;
    switch (step.what) {
      case cycle_step::rapid_xy: to.x = hole.x; to.y = hole.y; ok = emit_move(state, true, to, number); break;
      case cycle_step::rapid_z: to.z = step.value; ok = emit_move(state, true, to, number); break;
      case cycle_step::feed_z: to.z = step.value; ok = emit_move(state, false, to, number); break;
      case cycle_step::dwell:
        ok = before_output(state);
        if (ok) write_dwell(state.writer, static_cast<unsigned long>(std::llround(step.value)));
        break;
    }
  });
  return ok;
}

// ---------------------------------------------------------------------------
// Non-motion words: M, S, F, T and the parts of the job.

bool convert_machine_words(convert_state& state, const gcode_block& block, long number, const std::string& text) {
  std::string ignored;
  if (block_has(block, 'T')) {
    double t = block_value(block, 'T');
    if (state.has_tool && t != state.tool && state.cut && state.break_line == 0)
      state.break_line = number, state.break_text = text, state.break_why = "a second tool (T" + number_text(t) + ")";
    state.tool = t;
    state.has_tool = true;
  }
  for (int i = 0; i < block.m_count; ++i) {
    int m = block.m[i];
    if (m == 980 || m == 990)
      return refuse(state, number, text, "subroutine calls (M98/M99) are not supported: post the job with its moves written out");
    const bool stop = m == 0 || m == 10 || m == 600;
    if ((stop || m == 60) && state.cut && state.break_line == 0) {
      state.break_line = number;
      state.break_text = text;
      if (stop) {
        state.break_why = "a program stop (M";
        state.break_why += number_text(m / 10.0);
        state.break_why += ')';
      } else {
        state.break_why = "a tool change (M6)";
      }
    }
    if (m == 20 || m == 300) state.end_line = number;
    ignored += ignored.empty() ? "M" : " M";
    ignored += number_text(m / 10.0);
  }
  static const char kept[3] = {'T', 'S', 'F'};
  for (char letter : kept)
    if (block_has(block, letter)) {
      if (!ignored.empty()) ignored += ' ';
      ignored += letter;
      ignored += number_text(block_value(block, letter));
    }
  if (ignored.empty()) return true;
  if (!before_output(state)) return false;
  write_text_line(state.writer, ignored.c_str());
  return true;
}

bool is_keyword(const char* line, size_t length, const char* keyword) {
  size_t n = std::strlen(keyword);
  if (length <= n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != keyword[i]) return false;
  return line[n] == ' ';
}

}  // namespace

bool convert_line(convert_state& state, const char* line, size_t length, long number) {
  state.totals.input_lines = number;
  while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t' || line[length - 1] == '\r')) --length;
  while (length > 0 && (*line == ' ' || *line == '\t')) ++line, --length;
  if (length == 0) return true;
  if (length > longest_line)
    return refuse(state, number, quoted(line, length), "the line is longer than 8192 characters");
  // millrun's own keywords, as a job written for it may hold them.
  if (is_keyword(line, length, "set_work_surface_depth_below_top_of_z") ||
      is_keyword(line, length, "set_chg_dirs_sleep_ms")) {
    std::string text(line, length);
    if (state.position_set)
      return refuse(state, number, text, "a millrun setting after the job's first G-code line: give it first");
    if (std::memchr(line, '\0', length)) return refuse(state, number, text, "the line holds a control character");
    if (std::tolower(static_cast<unsigned char>(text[4])) == 'w') {
      double depth = std::atof(text.c_str() + 38);
      if (!(std::fabs(depth) <= 1000)) return refuse(state, number, text, "the work-surface depth is out of range");
      state.home_z = depth;
    }
    state.keyword_lines.push_back(text);
    return true;
  }
  if ((length >= 2 && line[0] == '/' && line[1] == '/') || line[0] == '\'' ||
      (length >= 3 && (line[0] == 'R' || line[0] == 'r') && (line[1] == 'E' || line[1] == 'e') &&
       (line[2] == 'M' || line[2] == 'm'))) {
    // Comments of a millrun script: skipped by millrun, kept as they are.
    std::string text = line[0] == '/' ? quoted(line, length) : "// " + quoted(line, length);
    if (!before_output(state)) return false;
    write_text_line(state.writer, text.c_str());
    return true;
  }
  gcode_block block;
  const char* why = nullptr;
  std::string text = quoted(line, length);
  if (!read_gcode_block(line, length, block, why)) return refuse(state, number, text, why);
  if (!state.position_set) {
    // The job starts where millrun stands after homing.
    state.position = {-state.shift[0], -state.shift[1], state.home_z - state.shift[2]};
    state.position_set = true;
  }

  bool has_words = block.g_count + block.m_count > 0;
  for (int i = 0; i < 26 && !has_words; ++i) has_words = block.has[i];
  if (state.end_line != 0 && has_words) {
    warn(state, number, "the program ended on line " + std::to_string(state.end_line) +
                            " (M2/M30); the lines after it are converted too");
    state.end_line = 0;
  }
  if (block.has_comment) {
    if (!before_output(state)) return false;
    std::string comment = "; " + std::string(block.comment);
    if (block.program_number) comment = "; program " + comment.substr(2);
    while (!comment.empty() && comment.back() == ' ') comment.pop_back();
    write_text_line(state.writer, comment.c_str());
  }

  // 1. The G-codes: settings first, then what moves.
  int motion_word = -1, home_word = -1;
  bool dwell = false, machine = false;
  for (int i = 0; i < block.g_count; ++i) {
    int code = block.g[i];
    const g_entry* entry = find_g(code);
    if (!entry || entry->role == g_role::refused)
      return refuse(state, number, text, g_name(code) + ": " + (entry ? entry->why : refused_g_why(code)));
    switch (entry->role) {
      case g_role::motion:
        if (motion_word >= 0) return refuse(state, number, text, "two motion codes on one line");
        motion_word = code / 10;
        break;
      case g_role::dwell: dwell = true; break;
      case g_role::plane: state.plane = code / 10; break;
      case g_role::units: state.units = code / 10; break;
      case g_role::distance: state.absolute = code == 900; break;
      case g_role::arc_distance: state.arc_centers_absolute = code == 901; break;
      case g_role::retract: state.retract_to_start = code == 980; break;
      case g_role::home: home_word = code / 10; break;
      case g_role::machine: machine = true; break;
      case g_role::cancel_cycle:
        state.cycle_active = false;
        if (motion_word < 0) state.motion = state.last_linear;
        break;
      case g_role::ignored: case g_role::refused: break;
    }
  }

  // 2. M, S, F and T words become lines millrun ignores.
  if (!convert_machine_words(state, block, number, text)) return false;

  // 3. A dwell.
  if (dwell) {
    if (!block_has(block, 'P')) return refuse(state, number, text, "a dwell (G4) needs its time as a P word");
    double ms = block_value(block, 'P') * (state.options->dwell_in_ms ? 1 : 1000);
    if (ms < 0 || ms > 4294967295.0)
      return refuse(state, number, text, "the dwell P is negative or longer than millrun can wait");
    if (!take_pending_break(state) || !before_output(state)) return false;
    write_dwell(state.writer, static_cast<unsigned long>(std::llround(ms)));
  }

  if (motion_word >= 0) {
    if (motion_word >= 73 && !state.cycle_active) {
      state.cycle_active = true;
      state.cycle_start_z = state.position.z;
    }
    if (motion_word < 73) state.cycle_active = false;
    state.motion = motion_word;
    if (motion_word <= 1) state.last_linear = motion_word;
  }

  // 4. Moves to millrun's home: G28/G30, and G53 in machine coordinates.
  if (home_word >= 0 || machine) {
    if (!ensure_part(state)) return false;
    point3 home = {-state.shift[0], -state.shift[1], state.home_z - state.shift[2]};
    if (!has_axis_words(block)) {
      if (machine) return true;
      // Z rises first, then X and Y.
      point3 up = state.position;
      up.z = home.z;
      return emit_move(state, true, up, number, true) && emit_move(state, true, home, number, true);
    }
    if (!need_units(state, number, text)) return false;
    point3 to = state.position;
    static const char letters[3] = {'X', 'Y', 'Z'};
    if (home_word >= 0) {
      point3 through = target_of(state, block);
      if (!check_range(state, number, text, through) || !emit_move(state, true, through, number)) return false;
      to = through;
      for (int axis = 0; axis < 3; ++axis)
        if (block_has(block, letters[axis])) coordinate(to, axis) = coordinate(home, axis);
    } else {
      // G53: machine coordinates measured from millrun's home.
      for (int axis = 0; axis < 3; ++axis)
        if (block_has(block, letters[axis]))
          coordinate(to, axis) = coordinate(home, axis) + block_value(block, letters[axis]) * unit_scale(state);
      if (!check_range(state, number, text, to)) return false;
    }
    return emit_move(state, true, to, number, true);
  }

  // 5. The motion of the line.
  bool arc_words = block_has(block, 'I') || block_has(block, 'J') || block_has(block, 'K') || block_has(block, 'R');
  if (state.motion >= 73) return convert_cycle(state, block, number, text, motion_word >= 73);
  if (!has_axis_words(block) && !(state.motion >= 2 && arc_words)) return true;
  if (state.motion < 0)
    return refuse(state, number, text, "coordinates with no motion (G0, G1, G2, G3) in effect");
  if (!need_units(state, number, text)) return false;
  if (state.motion >= 2) return convert_arc(state, block, number, text);
  point3 to = target_of(state, block);
  if (!check_range(state, number, text, to)) return false;
  return emit_move(state, state.motion == 0, to, number);
}

bool finish_conversion(convert_state& state) {
  flush_run(state);
  if (state.part == 0 && !begin_part(state)) return false;  // an empty job still gets its header
  return !state.part_begun || end_part(state);
}
