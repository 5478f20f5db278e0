// A run driven through its options: what it writes, whom it tells, and
// that nothing it set outlives it.
#include "runner/run_program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/run_events.h"
#include "support/run_fixture.h"

namespace {

/// Counts what a run tells, by kind.
class event_counter : public run_observer {
 public:
  void run_started(const char*) override { ++started; }
  void line_started(const line_event&) override { ++lines; }
  void command_issued(const command_event& e) override { commands.push_back(e.command); }
  void dwell(uint32_t ms) override { dwell_ms += ms; }
  void homing_done(const homing_event&) override { ++homings; }
  void run_finished(const run_summary& s) override {
    finished_ok = s.ok;
    z_home = s.z_home_steps;
  }
  int started = 0, lines = 0, homings = 0;
  uint32_t dwell_ms = 0;
  std::vector<std::string> commands;
  bool finished_ok = false;
  int32_t z_home = 0;
};

using RunProgram = run_fixture;

TEST_F(RunProgram, OptionsShapeTheRunAndLeaveNothingBehind) {
  close_translation_log();  // the fixture's; this run writes none
  std::remove("KelCodeOutput.txt");
  dir_.write("job.nc", "G20\nG01 X1.0\nG04 P60000\n");
  event_counter counter;
  run_options options;
  options.script = "job.nc";
  options.write_outputs = false;
  options.dwells_wait = false;  // the minute's dwell would hold the test
  options.trace = false;
  options.observers = {&counter};
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_program(options), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // no trace
  EXPECT_FALSE(dir_.exists("KelCodeOutput.txt"));
  EXPECT_FALSE(dir_.exists("EnvelopeReport.txt"));
  EXPECT_EQ(counter.started, 1);
  EXPECT_EQ(counter.lines, 3);
  EXPECT_EQ(counter.homings, 1);
  EXPECT_EQ(counter.commands,
            (std::vector<std::string>{"z_home u", "x_home l", "y_home b", "x_move_steps r 607"}));
  EXPECT_EQ(counter.dwell_ms, 60000u);
  EXPECT_TRUE(counter.finished_ok);
  EXPECT_EQ(counter.z_home, 8440);

  // The next run starts with none of it: no observer, dwells wait, trace on.
  EXPECT_TRUE(dwells_wait());
  EXPECT_TRUE(trace_printed());
  EXPECT_FALSE(run_observed());
  dir_.write("job.nc", "G01 X1.0\n");
  run_options plain;
  plain.script = "job.nc";
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_program(plain), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(counter.started, 1);
  EXPECT_EQ(dir_.read("KelCodeOutput.txt"), "x_move_steps r 607\nx_home l\ny_home b\nz_home u\n");
}

}  // namespace
