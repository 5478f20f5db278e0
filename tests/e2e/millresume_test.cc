// millresume on the simulated controller: the real millresume and millsim
// processes over a pseudo-terminal. A resumed job is compared with the full
// run of the same job on a fresh simulator.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/live_process.h"
#include "support/process.h"
#include "support/sim_process.h"

namespace {

// Default scales: X and Y 606.6 steps an inch, Z 4000 (home 2.11" = 8440).
const char job[] =
    "open comm COM1\n"    // 1
    "G20\n"               // 2
    "G01 Z2.0\n"          // 3
    "G01 X1.0 Y0.5\n"     // 4
    "include holes.nc\n"  // 5
    "G01 X2.0 Y1.0\n"     // 6
    "G00 Z2.11\n"         // 7
    "G01 X0.5 Y0.25\n";   // 8
const char holes[] =
    "G01 X1.5\n"    // 1
    "G04 P10\n"     // 2
    "G01 Z1.9\n"    // 3
    "G01 Z2.0\n"    // 4
    "G01 Y0.75\n";  // 5

const std::vector<std::string> first_homing = {"z_home u",
                                               "x_home l",
                                               "y_home b",
                                               "get_native_axis_scale X",
                                               "get_native_axis_scale Y",
                                               "get_native_axis_scale Z"};

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct machine_run {
  process_result result;
  sim_transcript wire;
  std::string log;
  std::string report;
};

class Millresume : public testing::Test {
 protected:
  void SetUp() override {
    if (millsim_binary().empty()) GTEST_SKIP() << "millsim is not built";
    dir_.write("job.nc", job);
    dir_.write("holes.nc", holes);
  }

  /// Runs `argv` (the program first) in the folder on a fresh simulator
  /// started with `sim_args`, COM1 pointing at its link.
  machine_run run(const std::vector<std::string>& argv,
                  const std::vector<std::string>& sim_args = {}) {
    machine_run r;
    sim_process sim;
    const std::string link = dir_.file("ttyMILL1");
    if (!sim.start(sim_args, link)) {
      ADD_FAILURE() << "millsim did not start: " << sim.failure();
      return r;
    }
    r.result = run_process(argv, dir_.path(), {"MILLRUN_COM1=" + link}, 30000);
    EXPECT_FALSE(r.result.timed_out) << argv[0] << " did not end";
    EXPECT_TRUE(sim.stop()) << sim.failure();
    EXPECT_TRUE(parse_sim_transcript(sim.transcript(), r.wire)) << sim.transcript();
    r.log = dir_.read("KelCodeOutput.txt");
    r.report = dir_.read("EnvelopeReport.txt");
    return r;
  }
  machine_run resume(const std::string& line, const std::vector<std::string>& sim_args = {}) {
    return run({MILLRESUME_BINARY, "job.nc", line}, sim_args);
  }

  temp_dir dir_;
};

struct resume_case {
  const char* line;
  std::vector<std::string> approach;  // where the job stands before the line
  size_t commands_from_line;          // what the full run sends from the line on
  const char* envelope;               // since the resume's homing
  const char* untraced;               // a line before it, which must leave no trace
};

TEST_F(Millresume, EndsWhereTheFullRunEndsSendingTheSameCommandsAfterTheApproach) {
  const machine_run full = run({MILLRUN_BINARY, "job.nc"});
  ASSERT_EQ(full.result.exit_code, 0) << full.result.err;
  const resume_case cases[] = {
      // Before line 7 the job stands at X 2, Y 1, Z 2. Nothing after the
      // line goes as far as the approach: the envelope holds it all the same.
      {"7",
       {"x_move_steps r 1213", "y_move_steps t 607", "z_move_steps d 440"},
       2,
       "X: MIN = 00000000 steps, MAX = 00001213 steps\n"
       "Y: MIN = 00000000 steps, MAX = 00000607 steps\n"
       "Z: MIN = 00008000 steps, MAX = 00008440 steps\n",
       "gCode: G01 X2.0 Y1.0"},
      // Inside the include, after its dwell: X 1.5, Y 0.5, Z 2.
      {"holes.nc:3",
       {"x_move_steps r 910", "y_move_steps t 303", "z_move_steps d 440"},
       6,
       "X: MIN = 00000000 steps, MAX = 00001213 steps\n"
       "Y: MIN = 00000000 steps, MAX = 00000607 steps\n"
       "Z: MIN = 00007600 steps, MAX = 00008440 steps\n",
       "gCode: G01 X1.5"},
  };
  for (const resume_case& c : cases) {
    SCOPED_TRACE(c.line);
    const machine_run r = resume(c.line);
    EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
    EXPECT_EQ(r.result.err, "");
    ASSERT_GE(full.wire.commands.size(), c.commands_from_line);
    const std::vector<std::string> from_line(full.wire.commands.end() - c.commands_from_line,
                                             full.wire.commands.end());
    EXPECT_EQ(r.wire.commands, joined(joined(first_homing, c.approach), from_line));
    EXPECT_TRUE(r.wire.has_final);
    EXPECT_EQ(r.wire.x, full.wire.x);
    EXPECT_EQ(r.wire.y, full.wire.y);
    EXPECT_EQ(r.wire.z, full.wire.z);
    // The log starts with the home lines and the approach.
    std::string log_start = "x_home l\ny_home b\nz_home u\n";
    for (const std::string& move : c.approach) log_start += move + "\n";
    EXPECT_EQ(r.log.rfind(log_start, 0), 0u) << r.log;
    EXPECT_EQ(r.report.rfind(c.envelope, 0), 0u) << r.report;
    EXPECT_EQ(r.result.out.find(c.untraced), std::string::npos);
  }
}

TEST_F(Millresume, FailingLineRecoversAsUsual) {
  // Six homing exchanges and three approach moves; command 10, line 7's
  // lift, is rejected once: home, back to where the line starts, again.
  const machine_run r = resume("7", {"--fault", "10:error"});
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.wire.commands,
            joined(first_homing,
                   {"x_move_steps r 1213", "y_move_steps t 607", "z_move_steps d 440", "z_home u",
                    "z_home u", "x_home l", "y_home b", "x_move_steps r 1213", "y_move_steps t 607",
                    "z_move_steps d 440", "z_home u", "xyz_linear_move_steps xy lb 910,455"}));
  EXPECT_EQ(r.wire.x, 303);
  EXPECT_EQ(r.wire.y, 152);
  EXPECT_EQ(r.wire.z, 0);
  EXPECT_NE(r.report.find("Milling Resumed 1 times\n"), std::string::npos) << r.report;
}

struct refusal_case {
  const char* script;  // written as start.nc
  const char* line;
  int exit_code;
  const char* message;
};

TEST_F(Millresume, RefusesBeforeAnythingMoves) {
  const refusal_case cases[] = {
      {job, "99", 1, "Resume line not reached @ job.nc:99"},
      {job, "holes.nc:6", 1, "Resume line not reached @ holes.nc:6"},
      {job, "other.nc:1", 1, "Resume line not reached @ other.nc:1"},
      {"G20\nG01 X1.0\nopen comm COM1\nG01 X2.0\n", "2", 1, "No machine to resume on @ start.nc:2"},
      {job, "0", 2, "millresume: LINE \"0\""},
  };
  for (const refusal_case& c : cases) {
    SCOPED_TRACE(c.line);
    dir_.write("start.nc", c.script);
    const std::string script = c.script == job ? "job.nc" : "start.nc";
    const machine_run r = run({MILLRESUME_BINARY, script, c.line});
    EXPECT_EQ(r.result.exit_code, c.exit_code) << r.result.err;
    EXPECT_NE(r.result.err.find(c.message), std::string::npos) << r.result.err;
    EXPECT_TRUE(r.wire.commands.empty());
    if (c.exit_code == 1) {
      EXPECT_EQ(r.log, "");
      // Nothing moved: the envelope is that of a run that never homed.
      EXPECT_EQ(r.report.rfind("X: MIN = 00000000 steps, MAX = 00000000 steps\n"
                               "Y: MIN = 00000000 steps, MAX = 00000000 steps\n"
                               "Z: MIN = 00000000 steps, MAX = 00000000 steps\n",
                               0),
                0u)
          << r.report;
    }
  }
}

}  // namespace

TEST_F(Millresume, ContinuesAfterAPowerCutFromTheJournal) {
  const machine_run full = run({MILLRUN_BINARY, "job.nc"});
  ASSERT_EQ(full.result.exit_code, 0) << full.result.err;

  // The cut: millrun and the machine die while line 6 (X 1.5 Y 0.75 to
  // X 2 Y 1), the 13th command, is in flight: its reply never comes.
  {
    sim_process sim;
    const std::string link = dir_.file("ttyMILL1");
    ASSERT_TRUE(sim.start({"--fault", "13:silent"}, link)) << sim.failure();
    std::filesystem::remove(dir_.file("RunJournal.txt"));  // the full run's
    live_process millrun;
    ASSERT_TRUE(millrun.start({MILLRUN_BINARY, "job.nc"}, dir_.path(), {"MILLRUN_COM1=" + link}));
    const std::string in_flight = "start 1 910 455 8000 job.nc:6\n";
    ASSERT_TRUE(millrun.wait_until(
        [&] { return dir_.read("RunJournal.txt").find(in_flight) != std::string::npos; },
        30000 * test_time_scale()))
        << dir_.read("RunJournal.txt") << millrun.err;
    ASSERT_TRUE(millrun.signal(SIGKILL));
    millrun.wait_exit(5000);
    EXPECT_EQ(millrun.killed_by_signal, SIGKILL);
    sim.stop(5000, SIGKILL);
  }

  const machine_run r = run({MILLRESUME_BINARY, "job.nc", "--continue"});
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.result.err, "millresume: continuing at job.nc:6: it started but did not finish\n");
  // Home, drive to where line 6 starts, then lines 6, 7 and 8 as the full run.
  const std::vector<std::string> approach = {"x_move_steps r 910", "y_move_steps t 455",
                                             "z_move_steps d 440"};
  ASSERT_GE(full.wire.commands.size(), 3u);
  const std::vector<std::string> from_line(full.wire.commands.end() - 3, full.wire.commands.end());
  EXPECT_EQ(r.wire.commands, joined(joined(first_homing, approach), from_line));
  EXPECT_TRUE(r.wire.has_final);
  EXPECT_EQ(r.wire.x, full.wire.x);
  EXPECT_EQ(r.wire.y, full.wire.y);
  EXPECT_EQ(r.wire.z, full.wire.z);
}
