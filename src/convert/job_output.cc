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

// The output replaces a regular file, never the input itself, nor a folder
// or device (or a link to one).
bool may_replace(convert_state& state, const std::string& name) {
  const prep_system& system = state.options->system;
  const char* why = nullptr;
  if (system.same_file && system.same_file(name.c_str(), state.options->input.c_str()))
    why = "is the input itself; give another name";
  else if (system.path_kind && system.path_kind(name.c_str()) == 2)
    why = "exists and is no regular file (a folder, a device or a link to one); give a file name";
  if (!why) return true;
  state.failure = "millprep: the output " + name + " " + why + "\n";
  state.failure_code = 2;
  return false;
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
  std::string final_name = state.options->split_tools
                               ? part_file_name(state.options->output, state.part)
                               : state.options->output;
  if (!may_replace(state, final_name)) return false;
  std::string temp_name = final_name + ".millprep-tmp";
  std::remove(temp_name.c_str());  // a leftover, or a link that would be written through
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

// "// Part N of the job, tool T5", padded to one width.
void write_tool_line(convert_state& state) {
  char tool[32];
  if (state.has_tool)
    std::snprintf(tool, sizeof tool, "T%g", state.tool);
  else
    std::snprintf(tool, sizeof tool, "not named");
  char part[96];
  std::snprintf(part, sizeof part, "// Part %d of the job, tool %-16s", state.part, tool);
  write_text_line(state.writer, part);
}

void name_part_tool(convert_state& state) {
  if (state.tool_line_at < 0 || !state.file) return;
  long here = std::ftell(state.file);
  if (here >= 0 && std::fseek(state.file, state.tool_line_at, SEEK_SET) == 0) {
    write_tool_line(state);
    std::fseek(state.file, here, SEEK_SET);
  }
  state.tool_line_at = -1;
}

// A later part begins at home, where millrun's homing leaves the tool: it
// goes over to where the tool stood at the home's Z, then down, a rapid
// above the work surface (Z 0) and a feed below it.
void lead_in(convert_state& state, long number) {
  point3 at = state.position;
  point3 over = at;
  over.z = home_point(state).z;
  write_point(state, true, over, number, number);
  point3 surface = at;
  surface.z = std::min(over.z, -state.shift[2]);
  if (to_machine(state, at).z < 0) write_point(state, true, surface, number, number);
  write_point(state, to_machine(state, at).z >= 0, at, number, number);
}

void write_part_header(convert_state& state) {
  // The header uses script comments, which millrun skips, so that homing
  // waits for G20 and any depth keyword of the job comes before it.
  std::string line =
      "// Converted by millprep from " + state.input_name + "; " + header_options(*state.options);
  write_text_line(state.writer, line.c_str());
  if (state.options->split_tools) {
    // The tool is named once the part first cuts: the line is written to
    // its full width now and filled in then.
    state.tool_line_at = state.file && state.file != stdout ? std::ftell(state.file) : -1;
    write_tool_line(state);
  }
  for (const std::string& keyword : state.keyword_lines)
    write_text_line(state.writer, keyword.c_str());
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
  state.part_first_motion = state.writer.motion_lines;
  if (!state.measure_only && !open_part_file(state)) return false;
  state.writer.file = state.file;
  write_part_header(state);
  // millrun homes on its first G-code line: the part begins at its home.
  writer_begin_at(state.writer, 0, 0, state.home_z);
  start_at_home(state);
  return true;
}

bool end_part(convert_state& state) {
  name_part_tool(state);
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
    state.failure =
        "millprep: cannot write " +
        (state.temp_names.empty() ? std::string("standard output") : state.temp_names.back()) +
        "\n";
    state.failure_code = 2;
  }
  return ok;
}

bool ensure_part(convert_state& state) { return state.part_begun || begin_part(state); }

bool take_pending_break(convert_state& state) {
  if (state.break_line == 0) return true;
  if (!state.options->split_tools)
    return refuse_line(state, state.break_line, state.break_text,
                       state.break_why +
                           " between moves: millrun runs one tool; give --split-tools to write one "
                           "file per part and change the tool between runs");
  flush_run(state);
  if (state.part_begun && !end_part(state)) return false;
  long number = state.break_line;
  state.break_line = 0;
  if (!begin_part(state)) return false;
  write_break_words(state);
  lead_in(state, number);
  return true;
}

bool part_has_moved(const convert_state& state) {
  return state.run.open || state.writer.motion_lines > state.part_first_motion;
}

void write_break_words(convert_state& state) {
  for (const std::string& words : state.break_words) write_text_line(state.writer, words.c_str());
  state.break_words.clear();
}

void note_cut(convert_state& state) {
  if (state.cut) return;
  state.cut = true;
  name_part_tool(state);
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
    note_cut(state);
  }
  state.position = to;
  return true;
}
