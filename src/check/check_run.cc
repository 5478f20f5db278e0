#include "check/check_run.h"

#include <cstdio>

#include "gcode/axis_model.h"
#include "gcode/axis_words.h"
#include "runner/line_refusals.h"
#include "runner/run_program.h"
#include "runner/stand_in_controller.h"
#include "supervision/job_estimate.h"

namespace {

/// Collects what the run tells: refusals, travel beyond the limits, the
/// line a run stopped at, and the summary.
/// Keeps a problem or warning while fewer than max_listed_problems are
/// listed; counts it otherwise. A file of a million bad lines would
/// otherwise grow the list without bound.
void note(std::vector<check_problem>& list, int& unlisted, const check_problem& p) {
  if (list.size() < max_listed_problems)
    list.push_back(p);
  else
    ++unlisted;
}

class check_observer : public run_observer {
 public:
  check_observer(check_result& result, bool warn_behind_home)
      : result_(result), warn_behind_home_(warn_behind_home) {}

  // The line as read: the run's own text of a line may have lost its
  // comment ("; homes the machine" leaves nothing).
  void line_started(const line_event& e) override {
    after_homing_ = false;
    line_path_ = e.path;
    line_number_ = e.line_number;
    line_text_ = e.text;
    if (e.line_number == 1 && line_text_.rfind("\xEF\xBB\xBF", 0) == 0) line_text_.erase(0, 3);
    while (!line_text_.empty() && (line_text_.back() == '\n' || line_text_.back() == '\r'))
      line_text_.pop_back();
    for (char& c : line_text_)
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) c = '?';
  }

  void line_finished(const line_event& e, bool ok) override {
    // The innermost failing line comes first; the include lines above it
    // fail after it.
    if (ok || stop_noted_) return;
    stop_noted_ = true;
    check_problem p = problem_at(check_problem_kind::stopped, e.path, e.line_number, e.text);
    p.what = "the run stops here";
    result_.problems.push_back(p);
  }

  // A homing comes before the line's own move: the positions told until
  // the move are the home position.
  void homing_done(const homing_event&) override {
    after_homing_ = true;
    z_home_in_ = axis_model_state().work_surface_depth;
  }
  void motion_composed(const motion_event& e) override {
    after_homing_ = false;
    if (warn_behind_home_ && e.homed) warn_behind_home(e);
  }

  void line_refused(const refusal_event& e) override {
    check_problem p = problem_at(check_problem_kind::refused, e.path, e.line_number, e.text);
    p.what = e.what;
    p.why = e.why ? e.why : "";
    note(result_.problems, result_.unlisted_problems, p);
    ++result_.refused_lines;
    if (e.convertible && result_.convert_hint.empty()) {
      char hint[1200];
      convert_hint(e.path, hint, sizeof hint);
      result_.convert_hint = hint;
    }
  }

  void travel_exceeded(const travel_event& e) override {
    check_problem p = problem_at(check_problem_kind::travel, e.path, e.line_number, e.text);
    p.axis = e.axis;
    p.position_in = e.position_in;
    p.limit = e.limit;
    p.above = e.above;
    p.home = after_homing_;
    p.what = describe_travel_problem(p);
    note(result_.problems, result_.unlisted_problems, p);
    ++result_.travel_problems;
  }

  void run_finished(const run_summary& s) override {
    result_.ran_to_end = s.ok;
    result_.homed = s.homed;
    for (int a = 0; a < run_axis_count; ++a) {
      const axis_scale scale{s.scale_numerator[a], s.scale_denominator[a]};
      result_.envelope_min_steps[a] = s.envelope_min[a];
      result_.envelope_max_steps[a] = s.envelope_max[a];
      result_.envelope_min_in[a] = steps_to_inches(s.envelope_min[a], scale);
      result_.envelope_max_in[a] = steps_to_inches(s.envelope_max[a], scale);
    }
  }

 private:
  /// A move to X or Y below 0, or Z above its home: behind a home switch.
  void warn_behind_home(const motion_event& e) {
    for (int a = 0; a < run_axis_count; ++a) {
      const double to = e.to_in[a];
      if (to == e.from_in[a]) continue;
      const bool behind = a == axis_z ? to > z_home_in_ + 1e-9 : to < 0.0;
      if (!behind) continue;
      check_problem p =
          problem_at(check_problem_kind::travel, line_path_.c_str(), line_number_, nullptr);
      p.axis = a;
      p.position_in = to;
      p.limit = a == axis_z ? z_home_in_ : 0.0;
      p.above = a == axis_z;
      char what[160];
      std::snprintf(what, sizeof what, "%c %.4f behind the home switch (%s %.4f)",
                    axis_table[a].name, to, p.above ? "above the Z home" : "below", p.limit);
      p.what = what;
      note(result_.warnings, result_.unlisted_warnings, p);
    }
  }

  std::string text_of(const char* path, int line_number, const char* told) const {
    if (line_number == line_number_ && line_path_ == path) return line_text_;
    return told ? told : "";
  }

  /// A problem of `kind` at a line, with the line's text as read.
  check_problem problem_at(check_problem_kind kind, const char* path, int line_number,
                           const char* told) const {
    check_problem p;
    p.kind = kind;
    p.file = path;
    p.line = line_number;
    p.text = text_of(path, line_number, told);
    return p;
  }

  check_result& result_;
  std::string line_path_;
  int line_number_ = 0;
  std::string line_text_;
  bool after_homing_ = false;
  bool stop_noted_ = false;
  bool warn_behind_home_ = false;
  double z_home_in_ = 0.0;
};

}  // namespace

std::string describe_travel_problem(const check_problem& p) {
  char text[160];
  std::snprintf(text, sizeof text, "%c%s %.4f beyond the %s limit %.4f", axis_table[p.axis].name,
                p.home ? " home" : "", p.position_in, p.above ? "upper" : "lower", p.limit);
  return text;
}

check_result run_check(const std::string& script, const travel_limits& limits,
                       bool warn_behind_home, bool program_stops_pause) {
  check_result result;
  result.script = script;
  result.limits = limits;
  check_observer observer(result, warn_behind_home && !limits.any());
  job_estimate estimate;

  run_options options = stand_in_run_options(script);
  options.trace = false;
  options.observers = {&estimate, &observer};
  options.machine_order = true;
  options.skip_refused = true;
  options.limits = limits;
  options.program_stops_pause = program_stops_pause;
  run_program(options);

  // A run that stopped before any line (the script could not be read to
  // its end) names the script itself.
  if (!result.ran_to_end) {
    bool stop_noted = false;
    for (const check_problem& p : result.problems)
      if (p.kind == check_problem_kind::stopped) stop_noted = true;
    if (!stop_noted) {
      check_problem p;
      p.kind = check_problem_kind::stopped;
      p.file = script;
      p.what = "the script could not be read to its end";
      result.problems.push_back(p);
    }
  }
  result.commands = estimate.figures().exchanges;
  result.estimate_ms = estimate.total_ms();
  return result;
}
