#include "convert/job_output.h"

#include <algorithm>
#include <cmath>

#include "convert/arc_chords.h"
#include "convert/convert_messages.h"
#include "convert/job_coordinates.h"

namespace {

std::string header_options(const prep_options& options) {
  char tolerance[64];
  std::snprintf(tolerance, sizeof tolerance, "tolerance %.4f in", options.tolerance);
  std::string text = tolerance;
  if (!options.given.empty()) text += "; options: " + options.given;
  return text;
}

// The file of the next part: the sink of a test, standard output, or a
// temporary file beside the final name, renamed when the whole job converted.
bool open_part_file(convert_state& state) {
  if (state.sink) {
    state.file = state.sink;
    return true;
  }
  if (state.options->output.empty()) {
    state.file = stdout;
    return true;
  }
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
  return true;
}

void write_part_header(convert_state& state) {
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
}

// How far rounding to 0.0001 in carries a point.
double rounding_of(const convert_state& state, const point3& p) {
  point3 m = to_machine(state, p);
  double dx = to_ten_thousandths(m.x) / 10000.0 - m.x;
  double dy = to_ten_thousandths(m.y) / 10000.0 - m.y;
  double dz = to_ten_thousandths(m.z) / 10000.0 - m.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

}  // namespace

// ---------------------------------------------------------------------------
// Parts

bool begin_part(convert_state& state) {
  ++state.part;
  state.part_begun = true;
  state.cut = false;
  if (!state.measure_only && !open_part_file(state)) return false;
  state.writer.file = state.file;
  write_part_header(state);
  // millrun homes on its first G-code line: the part begins at its home.
  writer_begin_at(state.writer, 0, 0, state.home_z);
  start_at_home(state);
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

bool take_pending_break(convert_state& state) {
  if (state.break_line == 0) return true;
  if (!state.options->split_tools)
    return refuse_line(state, state.break_line, state.break_text,
                       state.break_why + " between moves: millrun runs one tool; give --split-tools to write one "
                                         "file per part and change the tool between runs");
  flush_run(state);
  if (state.part_begun && !end_part(state)) return false;
  state.break_line = 0;
  return begin_part(state);
}

// ---------------------------------------------------------------------------
// Moves

void note_deviation(convert_state& state, double deviation) {
  state.totals.deviation = std::max(state.totals.deviation, deviation);
}

void note_fit_extent(convert_state& state, const point3& to) {
  if (!state.fit_seen || to.x < state.fit_least[0]) state.fit_least[0] = to.x;
  if (!state.fit_seen || to.y < state.fit_least[1]) state.fit_least[1] = to.y;
  state.fit_seen = true;
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

bool before_output(convert_state& state) {
  flush_run(state);
  return ensure_part(state);
}

bool emit_move(convert_state& state, bool rapid, const point3& to, long number, bool home_move) {
  if (!take_pending_break(state) || !ensure_part(state)) return false;
  if (!home_move) note_fit_extent(state, to);
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
