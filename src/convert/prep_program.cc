// The millprep program: reads the input as a stream of lines, converts it
// (twice for --fit: once to find the job's least X and Y, once to write),
// writes each output beside its final name and renames it only when the
// whole job converted, and ends with one summary line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "convert/converter.h"
#include "convert/input_lines.h"

namespace {

// Lines longer than this are cut here; the converter refuses them.
constexpr size_t line_cap = 8193;

bool stop_requested(const prep_options& options) {
  return options.system.stop_requested && options.system.stop_requested();
}

// Reads INPUT line by line into `state`, as millrun counts lines. Returns
// the exit code.
int convert_file(const prep_options& options, convert_state& state) {
  std::FILE* in = std::fopen(options.input.c_str(), "rb");
  if (!in) {
    std::fprintf(stderr, "millprep: cannot read %s: %s\n", options.input.c_str(),
                 std::strerror(errno));
    return 2;
  }
  // The reader's block is too large for the stack; each file gets its own.
  const auto input = std::make_unique<input_lines>();
  input_lines& reader = *input;
  reader.file = in;
  std::string line;
  long number = 0;
  bool ok = true;
  while (ok && !stop_requested(options) && read_input_line(reader, line, line_cap))
    ok = convert_line(state, line.data(), line.size(), ++number);
  bool read_error = std::ferror(in);
  std::fclose(in);
  if (stop_requested(options)) {
    // Ctrl-C, a termination request or a hang-up: nothing is left behind.
    state.failure = "millprep: stopped; nothing was written\n";
    state.failure_code = 2;
    return 2;
  }
  if (read_error) {
    std::fprintf(stderr, "millprep: cannot read %s\n", options.input.c_str());
    return 2;
  }
  if (ok) ok = finish_conversion(state);
  return ok ? 0 : state.failure_code;
}

void discard_outputs(convert_state& state) {
  if (state.file && state.file != stdout) std::fclose(state.file);
  state.file = nullptr;
  for (const std::string& name : state.temp_names) std::remove(name.c_str());
}

std::string inches(long long units) {
  char text[32];
  text[format_ten_thousandths(units, text)] = '\0';
  return text;
}

// A job that reaches behind the home corner or above the Z home position
// would drive the machine into its home switches.
void warn_behind_home(const convert_state& state) {
  const job_writer& w = state.writer;
  if (!w.moved) return;
  if (w.least[0] < 0 || w.least[1] < 0)
    std::fprintf(
        stderr,
        "millprep: warning: the job reaches X %s, Y %s in, behind the home corner (X 0, Y 0), "
        "where "
        "the machine's home switches are; give --fit or --shift to place the job in front of it\n",
        inches(w.least[0]).c_str(), inches(w.least[1]).c_str());
  if (w.most[2] > to_ten_thousandths(state.home_z))
    std::fprintf(stderr,
                 "millprep: warning: the job reaches Z %s in, above the Z home position %.4f in, "
                 "the top of Z "
                 "travel; give --shift with a lower Z, or set_work_surface_depth_below_top_of_z\n",
                 inches(w.most[2]).c_str(), state.home_z);
}

}  // namespace

int run_millprep(const prep_options& options) {
  double shift[3] = {options.shift[0], options.shift[1], options.shift[2]};
  if (options.fit) {
    convert_state measure;
    measure.options = &options;
    measure.measure_only = measure.quiet = true;
    measure.input_name = options.input;
    int code = convert_file(options, measure);
    if (code != 0) {
      std::fputs(measure.failure.c_str(), stderr);
      return code;
    }
    // The least X and Y go to 0, millrun's home corner; --shift adds to it.
    if (measure.fit_seen) shift[0] -= measure.fit_least[0], shift[1] -= measure.fit_least[1];
  }
  convert_state state;
  state.options = &options;
  state.input_name = options.input;
  for (int axis = 0; axis < 3; ++axis) state.shift[axis] = shift[axis];
  int code = convert_file(options, state);
  if (code != 0) {
    discard_outputs(state);
    std::fputs(state.failure.c_str(), stderr);
    return code;
  }
  for (size_t i = 0; i < state.temp_names.size(); ++i) {
    if (std::rename(state.temp_names[i].c_str(), state.final_names[i].c_str()) != 0) {
      std::fprintf(stderr, "millprep: cannot write %s: %s\n", state.final_names[i].c_str(),
                   std::strerror(errno));
      for (size_t j = i; j < state.temp_names.size(); ++j) std::remove(state.temp_names[j].c_str());
      return 2;
    }
  }
  const job_writer& w = state.writer;
  std::fprintf(
      stderr,
      "millprep: %ld input lines, %ld motion lines, %ld arcs converted, %ld segments merged, "
      "largest deviation %.5f in, extent X %s to %s, Y %s to %s, Z %s to %s in",
      state.totals.input_lines, w.motion_lines, state.totals.arcs, state.totals.merged,
      state.totals.deviation, inches(w.least[0]).c_str(), inches(w.most[0]).c_str(),
      inches(w.least[1]).c_str(), inches(w.most[1]).c_str(), inches(w.least[2]).c_str(),
      inches(w.most[2]).c_str());
  if (options.split_tools) std::fprintf(stderr, ", %d parts", state.part);
  std::fputc('\n', stderr);
  warn_behind_home(state);
  return 0;
}
