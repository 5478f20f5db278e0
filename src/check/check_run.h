// The pre-cut check's run: the job run as on the machine (homing before the
// first line's command) without a machine, without the output files and
// without waiting through dwells, every refused line passed over and every
// move beyond the travel limits noted. What it finds is one plain record,
// which the text and JSON writers print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runner/run_options.h"

enum class check_problem_kind {
  refused,  // a line millrun would refuse; passed over as if absent
  travel,   // a move (or a homing) beyond the travel limits
  stopped,  // the run could not go on (an include that cannot be read)
};

struct check_problem {
  check_problem_kind kind = check_problem_kind::refused;
  std::string file;  // as the include line names it; the script as given
  int line = 0;      // 0: the file as a whole
  std::string text;  // the line as read
  /// What is wrong: "Unknown GCode", "X 12.5000 beyond the upper limit
  /// 12.0000", "the run stops here".
  std::string what;
  std::string why;  // refused: the reason, may be empty
  // travel:
  int axis = 0;
  double position_in = 0.0;
  double limit = 0.0;
  bool above = false;
  bool home = false;  // the position is the home position of a homing
};

/// The most problems (and, apart, warnings) listed; the rest are counted.
constexpr size_t max_listed_problems = 1000;

struct check_result {
  std::string script;
  travel_limits limits;
  std::vector<check_problem> problems;
  int unlisted_problems = 0;  // past max_listed_problems
  /// Moves behind the home switches (X or Y below 0, Z above its home),
  /// told when no travel limits were given at all: the machine cannot go
  /// there, but the job may mean another origin.
  std::vector<check_problem> warnings;
  int unlisted_warnings = 0;
  int refused_lines = 0;
  int travel_problems = 0;
  bool ran_to_end = false;
  /// The envelope since the last homing; none when nothing homed.
  bool homed = false;
  int32_t envelope_min_steps[run_axis_count] = {};
  int32_t envelope_max_steps[run_axis_count] = {};
  double envelope_min_in[run_axis_count] = {};
  double envelope_max_in[run_axis_count] = {};
  /// Commands the machine would receive: motion, homing, scale queries.
  uint64_t commands = 0;
  double estimate_ms = 0.0;
  /// Where a refused line is CAM output that millprep converts, the advice
  /// to convert it first (for the first such file); else empty.
  std::string convert_hint;

  /// The job fits and every line is accepted.
  bool fits() const { return ran_to_end && problems.empty(); }
};

/// Checks `script` against `limits` (run from the working directory, as
/// millrun runs it). The script should be known to be readable.
/// With `warn_behind_home` (no limits given at all), moves behind the home
/// switches are warnings. With `program_stops_pause` M0 and M1 after the
/// first move are accepted, as a run that pauses at them takes them.
check_result run_check(const std::string& script, const travel_limits& limits,
                       bool warn_behind_home = false, bool program_stops_pause = false);

/// "X 12.5000 beyond the upper limit 12.0000" (with "home" after the axis
/// letter for the position a homing takes the axis to).
std::string describe_travel_problem(const check_problem& problem);
