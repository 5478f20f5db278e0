#include "supervision/job_estimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "common/run_events.h"
#include "runner/run_program.h"
#include "runner/script_interpreter.h"
#include "supervision/progress.h"
#include "supervision/recovery.h"
#include "support/fake_device.h"
#include "support/fake_terminal.h"
#include "support/observed_run.h"
#include "support/run_fixture.h"

namespace {

// Expected times are worked out by hand: 10 ms a step, 9600 baud at ten bits
// a byte. A home command is 8 characters, its line feed, and the shortest
// home reply (6 characters) with CR LF: 17 bytes. Where the machine stands
// before its first homing is unknown, so that homing adds no travel.
constexpr double ms_per_byte = 10.0 * 1000.0 / 9600.0;
constexpr int homing_bytes = 3 * 17;
constexpr int z_homing_steps = 0;

// A terminal without a status line (support/fake_terminal.h): what reaches it
// are whole lines, the estimate's.
std::vector<std::string> error_lines() { return recorded_terminal().lines(); }

class JobEstimate : public run_fixture {
 protected:
  void SetUp() override {
    run_fixture::SetUp();
    install_recording_terminal().possible = false;
    set_dwells_wait(false);
    observed_.start();
  }
  void TearDown() override {
    unsubscribe_all();
    set_dwells_wait(true);
    run_fixture::TearDown();
  }
  /// Runs `script` as the top-level file, on `handle` when given, and ends
  /// the run as run_program does.
  bool run(const std::string& script, port_handle handle = nullptr) {
    dir_.write("job.nc", script);
    testing::internal::CaptureStdout();
    bool ok = run_script_file("job.nc", handle);
    testing::internal::GetCapturedStdout();
    observed_.finish(ok);
    return ok;
  }
  /// A new run in the same folder: the run state, the table and the
  /// estimate all fresh.
  void fresh_run() {
    reset_run_state();
    std::memcpy(validator_text_, builtin_validator_text, validator_text_size);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reload_validator_table(validator_text_));
    testing::internal::GetCapturedStdout();
    open_translation_log();
    observed_.start();
  }
  observed_run observed_;
  char validator_text_[validator_text_size];
  static double expected_ms(int64_t steps, int bytes, double dwell_ms = 0.0) {
    return static_cast<double>(steps) * 10.0 + dwell_ms + bytes * ms_per_byte;
  }
};

TEST(JobEstimateFormulas, WireTimeCountsTheLineEndsAtTenBitsAByte) {
  // "x_move_steps r 607", its line feed, "X" and CR LF: 22 bytes.
  EXPECT_NEAR(exchange_wire_ms(18, 1), 22 * 10 * 1000.0 / 9600.0, 1e-9);
  EXPECT_NEAR(exchange_wire_ms(0, 0), 3 * 10 * 1000.0 / 9600.0, 1e-9);
}

TEST(JobEstimateFormulas, ShortestReplies) {
  struct row {
    const char* command;
    size_t reply;
  };
  const row rows[] = {
      {"x_home l", 6},
      {"y_home b", 6},
      {"z_home u", 6},
      {"get_native_axis_scale X", 6},
      {"x_move_steps r 607", 1},
      {"z_move_steps d 440", 1},
      {"xyz_linear_move_steps xy rt 607,303", 1},
  };
  for (const row& r : rows) EXPECT_EQ(shortest_reply_length(r.command), r.reply) << r.command;
}

TEST(JobEstimateFormulas, HoursMinutesSecondsRoundToTheNearestSecond) {
  struct row {
    double ms;
    const char* text;
  };
  const row rows[] = {
      {0.0, "0:00:00"},           {499.0, "0:00:00"},     {500.0, "0:00:01"},
      {59999.0, "0:01:00"},       {3723000.0, "1:02:03"}, {3599500.0, "1:00:00"},
      {360000000.0, "100:00:00"}, {-5000.0, "0:00:00"},   {std::nan(""), "0:00:00"},
  };
  for (const row& r : rows) {
    char text[32];
    format_hms(r.ms, text, sizeof text);
    EXPECT_STREQ(text, r.text) << r.ms;
  }
  char tiny[4];
  format_hms(3723000.0, tiny, sizeof tiny);  // cut, terminated
  EXPECT_STREQ(tiny, "1:0");
}

TEST_F(JobEstimate, DryRunsTimedByHand) {
  struct row {
    const char* name;
    const char* script;
    int64_t steps;
    int bytes;
    double dwell_ms;
  };
  const row rows[] = {
      // One X move of 607 steps: "x_move_steps r 607" is 22 bytes with its reply.
      {"x move", "G20\nG01 X1.0\n", z_homing_steps + 607, homing_bytes + 22, 0},
      // A linear move takes as long as its longest axis (X 607, Y 303);
      // "xyz_linear_move_steps xy rt 607,303" is 35 characters.
      {"linear move", "G20\nG01 X1.0 Y0.5\n", z_homing_steps + 607, homing_bytes + 39, 0},
      {"three axes", "G20\nG01 X0.5 Y1.0 Z2.0\n", z_homing_steps + 607,
       homing_bytes + int(sizeof "xyz_linear_move_steps xyz rtd 303,607,440") - 1 + 4, 0},
      {"dwell", "G20\nG04 P500\n", z_homing_steps, homing_bytes, 500},
      {"dwell truncated", "G20\nG04 P250.9\nG04 P-3\n", z_homing_steps, homing_bytes, 250},
      {"z move", "G20\nG01 Z2.0\n", z_homing_steps + 440, homing_bytes + 22, 0},
      // A home command drives its axis from where the record stands.
      {"home command", "G20\nG01 X1.0\nG00 X0\n", z_homing_steps + 607 + 607,
       homing_bytes + 22 + 17, 0},
      // The first motion line of a dry run is composed before the homing;
      // the next line starts from home.
      {"motion first", "G01 X1.0\nG01 X2.0\n", 607 + z_homing_steps + 1213, 22 + homing_bytes + 23,
       0},
      // A changed depth changes nothing of the first homing's count.
      {"depth", "set_work_surface_depth_below_top_of_z 1.0\nG20\n", 0, homing_bytes, 0},
      {"no g-code", "// a comment\nset_chg_dirs_sleep_ms 5\n", 0, 0, 0},
      // Any G-code line homes, even one that moves nothing.
      {"m-code homes", "// a comment\nM03\n", z_homing_steps, homing_bytes, 0},
      // A line that fails sends nothing more.
      {"failing line", "G20\nG01 X1.0\nG02 X1 Y1\nG01 X3.0\n", z_homing_steps + 607,
       homing_bytes + 22, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    fresh_run();
    run(r.script);
    const job_estimate_record& e = observed_.estimate.figures();
    EXPECT_EQ(e.steps, r.steps);
    EXPECT_NEAR(e.move_ms, r.steps * 10.0, 1e-6);
    EXPECT_NEAR(e.dwell_ms, r.dwell_ms, 1e-9);
    EXPECT_NEAR(e.wire_ms, r.bytes * ms_per_byte, 1e-6);
    EXPECT_NEAR(observed_.estimate.total_ms(), expected_ms(r.steps, r.bytes, r.dwell_ms), 1e-6);
  }
}

TEST_F(JobEstimate, OneMoveOf607StepsTakesItsStepsAndItsWireTime) {
  run("G20\n");
  const double homed = observed_.estimate.total_ms();
  run("G01 X1.0\n");
  EXPECT_NEAR(observed_.estimate.total_ms() - homed, 6070.0 + (18 + 1 + 3) * 10 * 1000.0 / 9600.0,
              1e-6);
}

TEST_F(JobEstimate, DryRunPrintsTheEstimateAtItsEnd) {
  // 607 steps and 73 bytes: 6070 ms + 76.04 ms, 6.15 s rounds to 0:00:06.
  EXPECT_TRUE(run("G20\nG01 X1.0\n"));
  ASSERT_EQ(error_lines().size(), 1u);
  EXPECT_EQ(error_lines()[0], "Estimated machine time: 0:00:06 (h:mm:ss)\n");
}

TEST_F(JobEstimate, FailedDryRunPrintsNoEstimate) {
  EXPECT_FALSE(run("G20\nG02 X1 Y1\n"));
  EXPECT_TRUE(error_lines().empty());
}

TEST_F(JobEstimate, LinkRunCountsTheScaleQueryAndPrintsNoEstimate) {
  // On a link the homing comes first and the machine is asked for its
  // scales: three queries of 23 characters, each 32 bytes with its reply.
  fake_device dev(healthy_controller);
  EXPECT_TRUE(run("G01 X1.0\n", &dev));
  const job_estimate_record& e = observed_.estimate.figures();
  EXPECT_EQ(e.steps, z_homing_steps + 607);
  EXPECT_NEAR(e.wire_ms, (homing_bytes + 3 * 32 + 22) * ms_per_byte, 1e-6);
  EXPECT_EQ(e.exchanges, 3u + 3u + 1u);
  EXPECT_TRUE(error_lines().empty());
}

TEST_F(JobEstimate, RecoveryCountsItsHomingAndRepositioning) {
  // The move fails once: the recovery homes from X 607; the line started at
  // home, so nothing is repositioned and the re-run moves X 607 again.
  int moves = 0;
  fake_device dev([&](const std::string& command) {
    if (command.rfind("x_move_steps", 0) == 0 && moves++ == 0) return std::string("E\r\n");
    return healthy_controller(command);
  });
  EXPECT_TRUE(run("G01 X1.0\n", &dev));
  EXPECT_EQ(recovery_state().resume_count, 1);
  const job_estimate_record& e = observed_.estimate.figures();
  EXPECT_EQ(e.steps, z_homing_steps + 607 + 607 + 607);
  EXPECT_NEAR(e.wire_ms, (homing_bytes + 3 * 32 + 22 + homing_bytes + 22) * ms_per_byte, 1e-6);
  EXPECT_EQ(e.exchanges, 3u + 3u + 1u + 3u + 1u);
}

using JobEstimateInstances = run_fixture;

TEST_F(JobEstimateInstances, EachRunKeepsItsOwnFiguresAndPrintsThem) {
  // Two runs in one process, each with its own estimate and a progress line
  // that prints it: 607 steps, a 500 ms dwell and 73 bytes (6.65 s); then
  // the first homing's 51 bytes alone (53 ms).
  dir_.write("long.nc", "G20\nG01 X1.0\nG04 P500\n");
  dir_.write("short.nc", "G20\n");
  install_recording_terminal().possible = false;
  job_estimate first, second;
  progress_line first_line(first, recording_progress_terminal());
  progress_line second_line(second, recording_progress_terminal());
  run_options options;
  options.write_outputs = false;
  options.dwells_wait = false;
  options.trace = false;
  options.script = "long.nc";
  options.observers = {&first, &first_line};
  EXPECT_EQ(run_program(options), 0);
  options.script = "short.nc";
  options.observers = {&second, &second_line};
  EXPECT_EQ(run_program(options), 0);
  EXPECT_NEAR(first.total_ms(), 6070.0 + 500.0 + (homing_bytes + 22) * ms_per_byte, 1e-6);
  EXPECT_NEAR(second.total_ms(), homing_bytes * ms_per_byte, 1e-6);
  EXPECT_EQ(first.figures().exchanges, 4u);
  EXPECT_EQ(second.figures().exchanges, 3u);
  const std::vector<std::string> printed{"Estimated machine time: 0:00:07 (h:mm:ss)\n",
                                         "Estimated machine time: 0:00:00 (h:mm:ss)\n"};
  EXPECT_EQ(error_lines(), printed);
}

}  // namespace
