// A fault-injection soak: a generated milling job of a few thousand lines
// (rectangular pockets in depth passes, contours, drilled holes with dwells,
// three included files) runs on the simulated controller with one kind of
// fault injected at a chosen point of the run. Each case states its exit
// code and recovery count; every run that ends well must leave the machine
// at the job's last target, which the test works out from the coordinates
// it generated, never from what millrun wrote.
//
// The job never sends a home command of its own (no single-axis move to X 0,
// Y 0 or the top of Z), so every command is a relative step move: a move
// that is lost or made twice anywhere in the run shifts the final position.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "support/live_process.h"
#include "support/process.h"
#include "support/sim_process.h"

namespace {

// ---- the job -----------------------------------------------------------------

/// Coordinates are whole ten-thousandths of an inch, so every number in the
/// job is exact and the expected step counts come from integer arithmetic.
constexpr int64_t z_home_tenths = 21100;  // the default work-surface depth, 2.11"

/// Steps for `tenths` ten-thousandths of an inch at NUM steps per DEN
/// thousandths, rounded half away from zero.
int64_t steps_of(int64_t tenths, int64_t numerator, int64_t denominator) {
  const int64_t n = numerator * tenths;
  const int64_t d = denominator * 10;
  const int64_t magnitude = (2 * (n < 0 ? -n : n) + d) / (2 * d);
  return n < 0 ? -magnitude : magnitude;
}

/// A position as the simulated machine counts it: steps from home, Z from
/// the top of its travel.
struct machine_steps {
  int64_t x = 0, y = 0, z = 0;
  bool operator==(const machine_steps&) const = default;
};

machine_steps machine_steps_of(int64_t x, int64_t y, int64_t z) {
  return {steps_of(x, 1024, 1688), steps_of(y, 1024, 1688),
          steps_of(z, 4000, 1000) - steps_of(z_home_tenths, 4000, 1000)};
}

std::ostream& operator<<(std::ostream& out, const machine_steps& p) {
  return out << "x=" << p.x << " y=" << p.y << " z=" << p.z;
}

/// One motion line that sends a command, in the order the run meets it.
struct motion_line {
  std::string file;
  machine_steps target;
};

struct soak_job {
  std::vector<std::string> names;     // names[0] is the script millrun is given
  std::vector<std::string> contents;  // the text of each file
  std::vector<motion_line> motions;
  size_t line_count = 0;
  machine_steps last_target;
};

/// How much of each part of the job to generate.
struct job_size {
  int pockets;
  int pocket_passes;
  int64_t pocket_width, pocket_height;  // ten-thousandths
  int bosses;
  int boss_passes;
  int holes_per_file;
  int outline_passes;
};

constexpr job_size full_size{8, 5, 12000, 8000, 2, 4, 80, 6};
constexpr job_size short_size{1, 2, 3000, 2000, 1, 1, 4, 1};

std::string inches(int64_t tenths) {
  char text[40];
  std::snprintf(text, sizeof text, "%s%lld.%04lld", tenths < 0 ? "-" : "",
                static_cast<long long>((tenths < 0 ? -tenths : tenths) / 10000),
                static_cast<long long>((tenths < 0 ? -tenths : tenths) % 10000));
  return text;
}

/// Writes the job's files in the order the run reads them, and records each
/// motion line that moves the machine by at least one step.
class job_writer {
 public:
  explicit job_writer(soak_job& job) : job_(job) {}

  /// Lines go to `name` until the next switch; a new name becomes a file.
  void to_file(const std::string& name) {
    for (size_t i = 0; i < job_.names.size(); ++i)
      if (job_.names[i] == name) {
        current_ = i;
        return;
      }
    job_.names.push_back(name);
    job_.contents.emplace_back();
    current_ = job_.names.size() - 1;
  }

  void line(const std::string& text) {
    job_.contents[current_] += text + "\n";
    ++job_.line_count;
  }

  /// A motion line to (x, y, z) naming the axes that change, in the form
  /// `style` asks for; nothing when no axis moves by a whole step.
  enum class form { rapid, feed, numbered_feed, continued, continued_tight };
  void move(form style, int64_t x, int64_t y, int64_t z, const std::string& comment = "") {
    machine_steps target = machine_steps_of(x, y, z);
    if (target == at_steps_) return;
    std::string operands;
    const bool tight = style == form::continued_tight;
    auto add = [&](char letter, int64_t value, int64_t now) {
      if (value == now) return;
      if (!operands.empty() && !tight) operands += ' ';
      operands += letter;
      operands += inches(value);
    };
    add('X', x, x_);
    add('Y', y, y_);
    add('Z', z, z_);
    std::string text;
    switch (style) {
      case form::rapid:
        text = "G00 " + operands;
        break;
      case form::feed:
        text = "G01 " + operands;
        break;
      case form::numbered_feed:
        text = "N" + std::to_string(next_n_) + " G01 " + operands;
        next_n_ += 10;
        break;
      case form::continued:
      case form::continued_tight:
        text = operands;
        break;
    }
    if (!comment.empty()) text += " (" + comment + ")";
    line(text);
    x_ = x;
    y_ = y;
    z_ = z;
    at_steps_ = target;
    job_.motions.push_back({job_.names[current_], target});
    job_.last_target = target;
  }
  void move_z(form style, int64_t z, const std::string& comment = "") {
    move(style, x_, y_, z, comment);
  }
  void move_xy(form style, int64_t x, int64_t y) { move(style, x, y, z_); }

  /// A G-code line that moves nothing.
  void dwell(int ms) { line("G04 P" + std::to_string(ms)); }

 private:
  soak_job& job_;
  size_t current_ = 0;
  // The run starts at home: X 0, Y 0, Z at the top of its travel.
  int64_t x_ = 0, y_ = 0, z_ = z_home_tenths;
  machine_steps at_steps_ = machine_steps_of(0, 0, z_home_tenths);
  int next_n_ = 10;
};

using form = job_writer::form;

constexpr int64_t safe_z = 20500;     // 2.05": clear of the stock
constexpr int64_t surface_z = 19000;  // 1.90": the top of the stock
constexpr int64_t pass_depth = 200;   // 0.02" per depth pass
constexpr int64_t stepover = 400;     // 0.04" between raster rows

/// Where a raster row starts: the end the row before finished at.
int64_t row_start(int64_t x0, int64_t x1, int row) { return row % 2 == 0 ? x0 : x1; }

/// A rectangular pocket cleared in raster rows, one depth pass at a time,
/// with a finishing contour round its wall on each pass.
void write_pocket(job_writer& w, int number, int64_t x0, int64_t y0, const job_size& size) {
  w.line("( pocket " + std::to_string(number) + " )");
  w.move_z(form::rapid, safe_z, "clear");
  w.move_xy(form::rapid, x0, y0);
  const int64_t x1 = x0 + size.pocket_width, y1 = y0 + size.pocket_height;
  for (int pass = 1; pass <= size.pocket_passes; ++pass) {
    w.move_z(form::feed, surface_z - pass * pass_depth);
    int row = 0;
    for (int64_t y = y0; y <= y1; y += stepover, ++row) {
      w.move_xy(form::feed, row_start(x0, x1, row), y);
      w.move_xy(form::feed, row % 2 == 0 ? x1 : x0, y);
    }
    // The wall, then back to the corner for the next pass.
    w.move_xy(form::feed, x0, y1);
    w.move_xy(form::feed, x0, y0);
    w.move_xy(form::feed, x1, y0);
    w.move_xy(form::feed, x1, y1);
    w.move_xy(form::feed, x0, y1);
    w.move_xy(form::feed, x0, y0);
  }
  w.move_z(form::rapid, safe_z);
}

/// A round boss: a polygon of 48 sides, one depth pass at a time, its
/// vertices as continuation lines (no G-word) after the first.
void write_boss(job_writer& w, int64_t cx, int64_t cy, int64_t radius, int passes) {
  w.line("; boss at " + inches(cx) + ", " + inches(cy));
  w.move_z(form::rapid, safe_z);
  w.move_xy(form::rapid, cx + radius, cy);
  constexpr int sides = 48;
  for (int pass = 1; pass <= passes; ++pass) {
    w.move_z(form::feed, surface_z - pass * pass_depth);
    for (int i = 1; i <= sides; ++i) {
      const double angle = 2.0 * std::numbers::pi * i / sides;
      const int64_t x = cx + std::llround(radius * std::cos(angle));
      const int64_t y = cy + std::llround(radius * std::sin(angle));
      w.move(i % 3 == 0   ? form::continued_tight
             : i % 3 == 1 ? form::feed
                          : form::continued,
             x, y, surface_z - pass * pass_depth);
    }
  }
  w.move_z(form::rapid, safe_z);
}

/// A row of drilled holes: rapid over the hole, plunge, a short dwell,
/// retract. Numbered lines, as a post-processor writes them.
void write_holes(job_writer& w, int64_t x0, int64_t y0, int count, int64_t depth) {
  w.line("' drilling, " + std::to_string(count) + " holes");
  w.move_z(form::rapid, safe_z);
  for (int i = 0; i < count; ++i) {
    const int64_t x = x0 + (i % 20) * 3000, y = y0 + (i / 20) * 2500;
    w.move_xy(form::rapid, x, y);
    w.move_z(form::numbered_feed, depth);
    w.dwell(i % 10 == 9 ? 1 : 0);
    w.move_z(form::numbered_feed, safe_z);
  }
}

/// The outer profile: a rectangle with chamfered corners, cut in passes.
void write_outline(job_writer& w, const job_size& size) {
  w.line("REM outline of the part");
  const int64_t x0 = 1000, y0 = 1000, x1 = 140000, y1 = 100000, c = 2500;
  w.move_z(form::rapid, safe_z);
  w.move_xy(form::rapid, x0 + c, y0);
  for (int pass = 1; pass <= size.outline_passes; ++pass) {
    const int64_t z = surface_z - pass * 500;
    w.move_z(form::feed, z);
    // Each side in short segments, as a profile posted from a CAD model is.
    for (int64_t x = x0 + c + 10000; x < x1 - c; x += 10000) w.move_xy(form::feed, x, y0);
    w.move_xy(form::feed, x1 - c, y0);
    w.move_xy(form::feed, x1, y0 + c);
    for (int64_t y = y0 + c + 10000; y < y1 - c; y += 10000) w.move_xy(form::feed, x1, y);
    w.move_xy(form::feed, x1, y1 - c);
    w.move_xy(form::feed, x1 - c, y1);
    for (int64_t x = x1 - c - 10000; x > x0 + c; x -= 10000) w.move_xy(form::feed, x, y1);
    w.move_xy(form::feed, x0 + c, y1);
    w.move_xy(form::feed, x0, y1 - c);
    for (int64_t y = y1 - c - 10000; y > y0 + c; y -= 10000) w.move_xy(form::feed, x0, y);
    w.move_xy(form::feed, x0, y0 + c);
    w.move_xy(form::feed, x0 + c, y0);
  }
  w.move_z(form::rapid, safe_z);
}

soak_job make_job(const job_size& size) {
  soak_job job;
  job_writer w(job);
  w.to_file("soak.nc");
  w.line("open comm COM1");
  w.line("// soak job: pockets, bosses, drilled holes and an outline");
  w.line("G20");
  w.line("G90");
  w.line("M03 S12000");
  w.line("");
  int pocket = 0;
  auto pockets = [&](int count) {
    for (int i = 0; i < count; ++i, ++pocket) {
      const int64_t x0 = 3000 + (pocket % 4) * 16000, y0 = 3000 + (pocket / 4) * 12000;
      write_pocket(w, pocket + 1, x0, y0, size);
    }
  };
  pockets((size.pockets + 1) / 2);

  // The first included file comes in the middle of the main script, so the
  // main script goes on after it with whatever port the include left.
  w.line("include holes_a.nc");
  w.to_file("holes_a.nc");
  write_holes(w, 5000, 30000, size.holes_per_file, surface_z - 1500);
  w.to_file("soak.nc");

  pockets(size.pockets / 2);
  for (int i = 0; i < size.bosses; ++i)
    write_boss(w, 20000 + i * 40000, 60000, 6000, size.boss_passes);

  w.line("include outline.nc");
  w.to_file("outline.nc");
  write_outline(w, size);
  w.to_file("soak.nc");

  w.line("include holes_b.nc");
  w.to_file("holes_b.nc");
  write_holes(w, 6500, 75000, size.holes_per_file, surface_z - 1200);
  w.to_file("soak.nc");

  w.line("# park");
  w.move_z(form::rapid, safe_z);
  w.move_xy(form::rapid, 5000, 5000);
  w.line("M05");
  return job;
}

const soak_job& full_job() {
  static const soak_job job = make_job(full_size);
  return job;
}

const soak_job& short_job() {
  static const soak_job job = make_job(short_size);
  return job;
}

/// The first homing's commands: three home commands and three scale queries.
constexpr uint64_t first_homing_commands = 6;

/// The command number of motion `index` (0-based) when no recovery has
/// happened before it.
uint64_t command_of_motion(size_t index) { return first_homing_commands + index + 1; }

/// The commands a recovery sends before the job goes on: three home
/// commands, then one single-axis move for each axis away from home.
uint64_t recovery_commands(const machine_steps& target) {
  return 3 + (target.x != 0) + (target.y != 0) + (target.z != 0);
}

/// The motion nearest `from` (searching forward) with every axis away from
/// home, so that a recovery there repositions all three axes.
size_t motion_with_all_axes_moved(const soak_job& job, size_t from, const std::string& file = "") {
  for (size_t i = from; i < job.motions.size(); ++i) {
    const motion_line& m = job.motions[i];
    if ((file.empty() || m.file == file) && recovery_commands(m.target) == 6) return i;
  }
  return job.motions.size();
}

size_t mid_job_motion(const soak_job& job) {
  return motion_with_all_axes_moved(job, job.motions.size() / 2);
}

size_t included_file_motion(const soak_job& job) {
  // Half-way through holes_a.nc, which the main script continues after.
  size_t first = 0, count = 0;
  for (size_t i = 0; i < job.motions.size(); ++i)
    if (job.motions[i].file == "holes_a.nc") {
      if (count++ == 0) first = i;
    }
  return motion_with_all_axes_moved(job, first + count / 2, "holes_a.nc");
}

// ---- the soak ----------------------------------------------------------------

/// One fault on one command number, and what that command must be, so that
/// a fault that lands elsewhere fails the case instead of passing it.
struct planned_fault {
  uint64_t command;
  std::string kind;
  std::string expected;  // the command's text, or its first word; "move" for any move
};

struct soak_run {
  bool finished = false;  // exited by itself (or, held, after the stop signal)
  bool held = false;      // for a held run: it sat blocked before the signal
  int exit_code = -1;
  sim_transcript wire;
  std::string report;
  std::string err;
  int recoveries = -1;
};

size_t line_count(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

int recoveries_in(const std::string& report) {
  const std::string before = "Milling Resumed ";
  size_t at = report.find(before);
  if (at == std::string::npos) return -1;
  return std::atoi(report.c_str() + at + before.size());
}

/// The last lines of a trace, for a failure message.
std::string trace_tail(const std::string& trace) {
  size_t start = trace.size();
  for (int lines = 0; lines < 5 && start > 0; ++lines) {
    size_t newline = trace.rfind('\n', start - 1);
    if (newline == std::string::npos) return trace;
    start = newline;
  }
  return trace.substr(start == trace.size() ? start : start + 1);
}

bool is_move(const std::string& command) {
  for (const char* word :
       {"x_move_steps ", "y_move_steps ", "z_move_steps ", "xyz_linear_move_steps "})
    if (command.rfind(word, 0) == 0) return true;
  return false;
}

class Soak : public testing::Test {
 protected:
  void SetUp() override {
    if (millsim_binary().empty()) GTEST_SKIP() << "millsim is not built";
  }

  /// Runs `job` on a fresh simulator with `faults`. A run that is meant to
  /// be held (a reply that never comes) is stopped with `stop_signal` once
  /// its translation log has `log_lines_when_held` lines and it sits
  /// blocked; every other run must end by itself.
  soak_run run(const soak_job& job, const std::vector<planned_fault>& faults, bool held,
               size_t log_lines_when_held = 0, int stop_signal = SIGTERM) {
    soak_run r;
    for (size_t i = 0; i < job.names.size(); ++i) dir_.write(job.names[i], job.contents[i]);
    std::vector<std::string> sim_args;
    for (const planned_fault& f : faults) {
      sim_args.push_back("--fault");
      sim_args.push_back(std::to_string(f.command) + ":" + f.kind);
    }
    sim_process sim;
    const std::string link = dir_.file("ttyMILL1");
    if (!sim.start(sim_args, link)) {
      ADD_FAILURE() << "millsim did not start: " << sim.failure();
      return r;
    }
    // Its output goes to files: a trace of thousands of lines.
    live_process millrun;
    if (!millrun.start({MILLRUN_BINARY, job.names[0]}, dir_.path(), {"MILLRUN_COM1=" + link},
                       child_streams::to_files(dir_.file("stdout.txt"), dir_.file("stderr.txt")))) {
      ADD_FAILURE() << "millrun did not start";
      return r;
    }
    if (held) {
      // It must wait for the reply, not end and not go on; then a stop
      // signal must end the run.
      const std::string log = dir_.file("KelCodeOutput.txt");
      millrun.wait_until([&] { return line_count(read_file(log)) >= log_lines_when_held; }, 30000);
      r.held = millrun.wait_until_held(200, 30000);
      EXPECT_TRUE(r.held) << "millrun did not sit waiting for the missing reply";
      millrun.signal(stop_signal);
      r.finished = millrun.wait_exit(10000);
      EXPECT_TRUE(r.finished) << "millrun did not end within 10 s of the stop signal";
    } else {
      r.finished = millrun.wait_exit(90000);
      EXPECT_TRUE(r.finished) << "millrun did not end within 90 s";
    }
    r.exit_code = millrun.exit_code;  // a run that did not end was killed by wait_exit
    EXPECT_TRUE(sim.stop()) << sim.failure();
    EXPECT_TRUE(parse_sim_transcript(sim.transcript(), r.wire)) << sim.transcript();
    r.report = dir_.read("EnvelopeReport.txt");
    r.err = dir_.read("stderr.txt");
    r.recoveries = recoveries_in(r.report);

    // Each fault fell on the command it was meant for.
    for (const planned_fault& f : faults) {
      if (f.command > r.wire.commands.size()) {
        ADD_FAILURE() << "command " << f.command << " (" << f.kind << ") was never sent; "
                      << r.wire.commands.size() << " were";
        continue;
      }
      const std::string& sent = r.wire.commands[f.command - 1];
      if (f.expected == "move")
        EXPECT_TRUE(is_move(sent)) << "command " << f.command << " is \"" << sent << "\"";
      else
        EXPECT_EQ(sent.substr(0, f.expected.size()), f.expected) << "command " << f.command;
    }
    return r;
  }

  temp_dir dir_;
};

TEST_F(Soak, GeneratedJobRunsToItsLastTarget) {
  const soak_job& job = full_job();
  ASSERT_GE(job.line_count, 3000u);
  ASSERT_LE(job.line_count, 5000u);
  soak_run r = run(job, {}, false);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.recoveries, 0) << r.report;
  EXPECT_EQ(r.err, "");
  // One command per motion line after the first homing: the numbering the
  // fault cases rely on.
  EXPECT_EQ(r.wire.commands.size(), first_homing_commands + job.motions.size());
  // No home command of the job's own resets an axis: the final position
  // carries every move of the run.
  for (size_t i = first_homing_commands; i < r.wire.commands.size(); ++i)
    ASSERT_TRUE(is_move(r.wire.commands[i])) << "command " << i + 1 << ": " << r.wire.commands[i];
  EXPECT_EQ((machine_steps{r.wire.x, r.wire.y, r.wire.z}), job.last_target);
  EXPECT_EQ(std::count(r.report.begin(), r.report.end(), '\n'), 8) << r.report;
}

// ---- one fault at one point -------------------------------------------------

enum class fault_point {
  first_command,    // "z_home u", command 1
  first_homing,     // "x_home l", command 2
  scale_query,      // "get_native_axis_scale Y", command 5
  mid_job,          // a move half-way through the job
  recovery_homing,  // "x_home l" of the recovery after a rejected mid-job move
  repositioning,    // "y_move_steps" of that recovery
  included_file,    // a move half-way through holes_a.nc
};

const char* point_name(fault_point p) {
  switch (p) {
    case fault_point::first_command:
      return "first_command";
    case fault_point::first_homing:
      return "first_homing";
    case fault_point::scale_query:
      return "scale_query";
    case fault_point::mid_job:
      return "mid_job";
    case fault_point::recovery_homing:
      return "recovery_homing";
    case fault_point::repositioning:
      return "repositioning";
    case fault_point::included_file:
      return "included_file";
  }
  return "?";
}

enum class job_kind { short_job, full_job };

struct soak_case {
  const char* kind;  // the simulator's fault kind
  fault_point where;
  job_kind job;
  int exit_code;
  int recoveries;  // "Milling Resumed N times"
};

void PrintTo(const soak_case& c, std::ostream* out) {
  *out << c.kind << " at " << point_name(c.where) << " ("
       << (c.job == job_kind::full_job ? "full" : "short") << " job): exit " << c.exit_code << ", "
       << c.recoveries << " recoveries";
}

/// The faults of a case: the fault itself, after a rejected move when the
/// point lies inside that move's recovery.
std::vector<planned_fault> plan_faults(const soak_case& c, const soak_job& job) {
  const std::string kind = c.kind;
  switch (c.where) {
    case fault_point::first_command:
      return {{1, kind, "z_home u"}};
    case fault_point::first_homing:
      return {{2, kind, "x_home l"}};
    case fault_point::scale_query:
      return {{5, kind, "get_native_axis_scale Y"}};
    case fault_point::mid_job:
      return {{command_of_motion(mid_job_motion(job)), kind, "move"}};
    case fault_point::included_file:
      return {{command_of_motion(included_file_motion(job)), kind, "move"}};
    case fault_point::recovery_homing: {
      // The rejected move, then its recovery: z_home u, x_home l, y_home b.
      uint64_t failed = command_of_motion(mid_job_motion(job));
      return {{failed, "error", "move"}, {failed + 2, kind, "x_home l"}};
    }
    case fault_point::repositioning: {
      // After the recovery's three home commands: x, y and z moves back.
      uint64_t failed = command_of_motion(mid_job_motion(job));
      return {{failed, "error", "move"}, {failed + 5, kind, "y_move_steps "}};
    }
  }
  return {};
}

/// The translation log's length once a run held by a silent fault at the
/// case's point has reached it: the home lines, the moves composed so far
/// (each is logged before it is sent) and a recovery's lines.
size_t log_lines_when_held(const soak_case& c, const soak_job& job) {
  switch (c.where) {
    case fault_point::first_command:
    case fault_point::first_homing:
      return 0;
    case fault_point::scale_query:
      return 3;
    case fault_point::mid_job:
    case fault_point::recovery_homing:
      return 3 + mid_job_motion(job) + 1;
    case fault_point::included_file:
      return 3 + included_file_motion(job) + 1;
    case fault_point::repositioning:
      return 3 + mid_job_motion(job) + 1 + 3 + 1;
  }
  return 0;
}

class SoakFaults : public Soak, public testing::WithParamInterface<soak_case> {};

TEST_P(SoakFaults, EndsAsDesigned) {
  const soak_case& c = GetParam();
  const soak_job& job = c.job == job_kind::full_job ? full_job() : short_job();
  ASSERT_EQ(recovery_commands(job.motions[mid_job_motion(job)].target), 6u);
  ASSERT_LT(included_file_motion(job), job.motions.size());
  const std::vector<planned_fault> faults = plan_faults(c, job);
  const bool silent = std::string(c.kind) == "silent";

  soak_run r = run(job, faults, silent, log_lines_when_held(c, job));

  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  EXPECT_EQ(r.recoveries, c.recoveries) << r.report;
  if (r.exit_code == 0) {
    // The invariant that matters most: the machine stands at the last target.
    EXPECT_EQ((machine_steps{r.wire.x, r.wire.y, r.wire.z}), job.last_target);
  } else {
    // A run that stops tells the user why, on standard error.
    EXPECT_NE(r.err, "") << "the run failed (exit " << r.exit_code
                         << ") without a message; its trace ends:\n"
                         << trace_tail(dir_.read("stdout.txt"));
  }
  if (silent) {
    // Nothing goes to the machine after the command that was never answered.
    const uint64_t held_at = faults.back().command;
    for (size_t i = held_at; i < r.wire.commands.size(); ++i)
      ADD_FAILURE() << "command " << i + 1 << " \"" << r.wire.commands[i]
                    << "\" sent after the stop";
    // A stopped run says it was stopped, wherever the stop found it.
    EXPECT_NE(r.err.find("Run stopped"), std::string::npos)
        << "stopped while waiting for a reply, the run did not say \"Run stopped\":\n"
        << r.err;
  }
}

constexpr job_kind S = job_kind::short_job;
constexpr job_kind F = job_kind::full_job;

// What each fault does, by design:
// - A home command that fails before a line's command fails the line: an
//   unhomed machine is never moved (exit 1, no recovery).
// - A scale reply that is missing or wrong keeps the axis's scale (here the
//   machine's own); a link lost during the query is re-opened by the
//   recovery of the next move.
// - A failed move is recovered: the port is opened again, the machine homed
//   and driven back axis by axis, and the job goes on (1 recovery).
// - Inside a recovery, a failed home command or a rejected repositioning
//   move fails the line (exit 1; the recovery is not counted).
// - noise and slow replies are still good replies: nothing to recover.
// - vanish: the device cannot be opened again, so the run ends (exit 1).
// - silent: the run waits for the reply until it is stopped (exit 1).
INSTANTIATE_TEST_SUITE_P(Table, SoakFaults,
                         testing::Values(soak_case{"error", fault_point::first_command, S, 1, 0},
                                         soak_case{"empty", fault_point::first_command, S, 1, 0},
                                         soak_case{"garbage", fault_point::first_command, S, 1, 0},
                                         soak_case{"noise", fault_point::first_command, S, 0, 0},
                                         soak_case{"slow", fault_point::first_command, S, 0, 0},
                                         soak_case{"hangup", fault_point::first_command, S, 1, 0},
                                         soak_case{"vanish", fault_point::first_command, S, 1, 0},
                                         soak_case{"silent", fault_point::first_command, S, 1, 0},

                                         soak_case{"error", fault_point::first_homing, S, 1, 0},
                                         soak_case{"empty", fault_point::first_homing, S, 1, 0},
                                         soak_case{"garbage", fault_point::first_homing, S, 1, 0},
                                         soak_case{"noise", fault_point::first_homing, S, 0, 0},
                                         soak_case{"slow", fault_point::first_homing, S, 0, 0},
                                         soak_case{"hangup", fault_point::first_homing, S, 1, 0},
                                         soak_case{"vanish", fault_point::first_homing, S, 1, 0},
                                         soak_case{"silent", fault_point::first_homing, S, 1, 0},

                                         soak_case{"error", fault_point::scale_query, S, 0, 0},
                                         soak_case{"empty", fault_point::scale_query, S, 0, 0},
                                         soak_case{"garbage", fault_point::scale_query, S, 0, 0},
                                         soak_case{"noise", fault_point::scale_query, S, 0, 0},
                                         soak_case{"slow", fault_point::scale_query, S, 0, 0},
                                         soak_case{"hangup", fault_point::scale_query, S, 0, 1},
                                         soak_case{"vanish", fault_point::scale_query, S, 1, 0},
                                         soak_case{"silent", fault_point::scale_query, S, 1, 0},

                                         soak_case{"error", fault_point::mid_job, F, 0, 1},
                                         soak_case{"empty", fault_point::mid_job, F, 0, 1},
                                         soak_case{"garbage", fault_point::mid_job, F, 0, 1},
                                         soak_case{"noise", fault_point::mid_job, F, 0, 0},
                                         soak_case{"slow", fault_point::mid_job, F, 0, 0},
                                         soak_case{"hangup", fault_point::mid_job, F, 0, 1},
                                         soak_case{"vanish", fault_point::mid_job, F, 1, 0},
                                         soak_case{"silent", fault_point::mid_job, F, 1, 0},

                                         soak_case{"error", fault_point::recovery_homing, S, 1, 0},
                                         soak_case{"empty", fault_point::recovery_homing, S, 1, 0},
                                         soak_case{"garbage", fault_point::recovery_homing, S, 1,
                                                   0},
                                         soak_case{"noise", fault_point::recovery_homing, F, 0, 1},
                                         soak_case{"slow", fault_point::recovery_homing, F, 0, 1},
                                         soak_case{"hangup", fault_point::recovery_homing, S, 1, 0},
                                         soak_case{"vanish", fault_point::recovery_homing, S, 1, 0},
                                         soak_case{"silent", fault_point::recovery_homing, S, 1, 0},

                                         soak_case{"error", fault_point::repositioning, S, 1, 0},
                                         soak_case{"empty", fault_point::repositioning, S, 1, 0},
                                         soak_case{"garbage", fault_point::repositioning, S, 1, 0},
                                         soak_case{"noise", fault_point::repositioning, F, 0, 1},
                                         soak_case{"slow", fault_point::repositioning, F, 0, 1},
                                         soak_case{"hangup", fault_point::repositioning, S, 1, 0},
                                         soak_case{"vanish", fault_point::repositioning, S, 1, 0},
                                         soak_case{"silent", fault_point::repositioning, S, 1, 0},

                                         soak_case{"error", fault_point::included_file, F, 0, 1},
                                         soak_case{"empty", fault_point::included_file, F, 0, 1},
                                         soak_case{"garbage", fault_point::included_file, F, 0, 1},
                                         soak_case{"noise", fault_point::included_file, F, 0, 0},
                                         soak_case{"slow", fault_point::included_file, F, 0, 0},
                                         soak_case{"hangup", fault_point::included_file, F, 0, 1},
                                         soak_case{"vanish", fault_point::included_file, F, 1, 0},
                                         soak_case{"silent", fault_point::included_file, F, 1, 0}),
                         [](const testing::TestParamInfo<soak_case>& info) {
                           return std::string(point_name(info.param.where)) + "_" + info.param.kind;
                         });

// ---- many faults in one run -------------------------------------------------

/// Faults on the commands of the given motions, numbered as the run will
/// number them: every recovery before a fault adds its own commands.
std::vector<planned_fault> faults_on_motions(
    const soak_job& job, const std::vector<std::pair<size_t, std::string>>& at) {
  std::vector<planned_fault> faults;
  uint64_t extra = 0;
  for (const auto& [motion, kind] : at) {
    EXPECT_TRUE(faults.empty() || command_of_motion(motion) + extra > faults.back().command)
        << "faults must be listed in the order of the job";
    faults.push_back({command_of_motion(motion) + extra, kind, "move"});
    if (kind == "error" || kind == "empty" || kind == "garbage" || kind == "hangup")
      extra += recovery_commands(job.motions[motion].target);
  }
  return faults;
}

TEST_F(Soak, ManyFaultsAcrossTheJobAllRecovered) {
  const soak_job& job = full_job();
  const size_t n = job.motions.size();
  const size_t in_holes = included_file_motion(job);
  ASSERT_LT(in_holes, n);
  const std::vector<planned_fault> faults = faults_on_motions(job, {{n / 10, "error"},
                                                                    {in_holes, "hangup"},
                                                                    {in_holes + 7, "noise"},
                                                                    {n / 2, "empty"},
                                                                    {n / 2 + 40, "slow"},
                                                                    {n * 8 / 10, "garbage"},
                                                                    {n - 1, "hangup"}});
  soak_run r = run(job, faults, false);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.recoveries, 5) << r.report;
  EXPECT_EQ((machine_steps{r.wire.x, r.wire.y, r.wire.z}), job.last_target);
}

TEST_F(Soak, InterruptStopsAHeldRunToo) {
  // SIGINT (Ctrl-C) ends a run held by a missing reply like SIGTERM does.
  const soak_job& job = short_job();
  soak_run r = run(job, {{command_of_motion(3), "silent", "move"}}, true, 3 + 4, SIGINT);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.wire.commands.size(), command_of_motion(3));
  EXPECT_NE(r.err.find("Run stopped"), std::string::npos) << r.err;
}

}  // namespace
