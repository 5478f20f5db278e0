// The station's record of a job: its state from the run's events, the
// operator's requests, and the hold between lines against the simulated
// controller (the run in a thread of this process, millsim on a pty).
#include "station/station_hub.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "check/check_run.h"
#include "platform/platform.h"
#include "runner/run_program.h"
#include "support/process.h"
#include "support/sim_process.h"

namespace {

void home(station_hub& hub) { hub.homing_done({{0, 0, 8440}, false}); }
void finish_run(station_hub& hub, bool ok) {
  run_summary summary{};
  summary.ok = ok;
  hub.run_finished(summary);
}

struct state_case {
  const char* name;
  std::function<void(station_hub&)> events;
  station_state state;
};

TEST(StationHub, EventsTurnIntoTheState) {
  const state_case cases[] = {
      {"started", [](station_hub&) {}, station_state::homing},
      {"homed", home, station_state::running},
      {"recovering",
       [](station_hub& h) {
         home(h);
         h.recovery_started("G01 X1");
       },
       station_state::recovering},
      {"recovered",
       [](station_hub& h) {
         home(h);
         h.recovery_started("G01 X1");
         h.recovery_finished(true);
       },
       station_state::running},
      {"recovery failed",
       [](station_hub& h) {
         home(h);
         h.recovery_started("G01 X1");
         h.recovery_finished(false);
         finish_run(h, false);
       },
       station_state::failed},
      {"stopped",
       [](station_hub& h) {
         home(h);
         EXPECT_TRUE(h.request(station_request::stop));
         finish_run(h, false);
       },
       station_state::stopped},
      {"finished",
       [](station_hub& h) {
         home(h);
         finish_run(h, true);
       },
       station_state::finished},
  };
  for (const state_case& c : cases) {
    SCOPED_TRACE(c.name);
    station_hub hub;
    hub.run_started("job.nc");
    c.events(hub);
    EXPECT_EQ(hub.snapshot().state, c.state);
    platform_clear_stop();
  }
}

TEST(StationHub, CountsACommandWhenItsReplyComesAndMovesTheToolThen) {
  station_hub hub;
  hub.set_job(10, 5000.0);
  hub.run_started("job.nc");
  home(hub);
  motion_event move{};
  move.to_steps[0] = 607;
  move.to_steps[2] = 8000;
  move.command = "xyz_linear_move_steps r 607 d 440";
  hub.motion_composed(move);
  hub.command_issued({move.command, command_kind::motion, 607, 1, true});
  EXPECT_EQ(hub.snapshot().commands, 0u);
  EXPECT_EQ(hub.snapshot().position[0], 0);
  EXPECT_LT(hub.snapshot().remaining_s, 5.0);
  hub.reply_received({move.command, "X", true});
  const station_status after = hub.snapshot();
  EXPECT_EQ(after.commands, 1u);
  EXPECT_EQ(after.position[0], 607);
  EXPECT_EQ(after.position[2], 8000);
  // A recovery's repositioning moves one axis by its steps.
  hub.command_issued({"x_move_steps l 200", command_kind::reposition, 200, -1, true});
  hub.reply_received({"x_move_steps l 200", "X", true});
  EXPECT_EQ(hub.snapshot().position[0], 407);
}

TEST(StationHub, RequestsTheStateDoesNotAllowAreRefused) {
  struct step {
    station_request what;
    bool allowed;
  };
  const std::vector<step> steps = {
      {station_request::resume, false},  // continue while running
      {station_request::pause, true},   {station_request::pause, false},
      {station_request::resume, true},  {station_request::resume, false},
      {station_request::pause, true},   {station_request::stop, true},
      {station_request::stop, false},   {station_request::resume, false},
  };
  station_hub hub;
  hub.run_started("job.nc");
  home(hub);
  for (size_t i = 0; i < steps.size(); ++i)
    EXPECT_EQ(hub.request(steps[i].what), steps[i].allowed) << "request " << i;
  platform_clear_stop();
  station_hub ended;
  ended.finish(0);
  for (station_request what :
       {station_request::pause, station_request::resume, station_request::stop})
    EXPECT_FALSE(ended.request(what));
  EXPECT_EQ(ended.snapshot().state, station_state::finished);
}

// Default scales: X and Y 606.6 steps an inch, Z home at 8440 steps.
constexpr int32_t z_home_steps = 8440;
const char moves[] =
    "G01 Z2.0\n"
    "G01 X0.2\n"
    "G01 Y0.2\n"
    "G01 X0.4\n"
    "G01 Y0.4\n"
    "G01 X0.1 Y0.1\n"
    "G00 Z2.11\n";

/// A run of `script` in a thread of this process against a fresh
/// simulator, its port named COM1; the hub watches it and is its gate.
class StationRun : public testing::Test {
 protected:
  void SetUp() override {
    if (millsim_binary().empty()) GTEST_SKIP() << "millsim is not built";
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    // A test that failed while the run holds: stop it, as Ctrl-C would.
    if (thread_.joinable()) {
      platform_request_stop();
      thread_.join();
    }
    platform_clear_stop();
    unsetenv("MILLRUN_COM1");
    if (!old_cwd_.empty() && chdir(old_cwd_.c_str()) != 0) ADD_FAILURE() << "cannot go back";
  }

  void start(const std::string& script, station_hub* hub, const std::string& ms_per_step,
             const std::vector<std::string>& faults = {}) {
    dir_.write("job.nc", "open comm COM1\n" + script);
    sim_ = std::make_unique<sim_process>();
    std::vector<std::string> args = {"--ms-per-step", ms_per_step};
    args.insert(args.end(), faults.begin(), faults.end());
    ASSERT_TRUE(sim_->start(args, dir_.file("ttyMILL1"))) << sim_->failure();
    setenv("MILLRUN_COM1", dir_.file("ttyMILL1").c_str(), 1);
    run_options options;
    options.script = "job.nc";
    options.trace = false;
    options.gate = hub;
    options.program_stops_pause = true;
    if (hub) options.observers = {hub, &issued_};
    thread_ = std::thread([this, options] { exit_code_ = run_program(options); });
  }
  /// Waits for the run and the simulator; the commands it received.
  sim_transcript finish() {
    thread_.join();
    sim_transcript wire;
    EXPECT_TRUE(sim_->stop()) << sim_->failure();
    EXPECT_TRUE(parse_sim_transcript(sim_->transcript(), wire)) << sim_->transcript();
    return wire;
  }
  /// Waits at most 10 s for `holds` of the hub's status.
  static bool wait_until(const station_hub& hub,
                         const std::function<bool(const station_status&)>& holds) {
    station_status status = hub.snapshot();
    for (int i = 0; i < 200 && !holds(status); ++i) hub.wait_for_change(status.version, 50, status);
    return holds(status);
  }

  /// Counts the commands the run issues (each before it goes out).
  struct issue_counter : run_observer {
    std::atomic<int> count{0};
    void command_issued(const command_event&) override { ++count; }
  } issued_;
  temp_dir dir_;
  std::unique_ptr<sim_process> sim_;
  std::thread thread_;
  int exit_code_ = -1;

 private:
  std::string old_cwd_;
};

TEST_F(StationRun, PauseHoldsAfterTheReplyAndContinueEndsWhereAnUninterruptedRunEnds) {
  station_hub hub;
  start(moves, &hub, "2");
  ASSERT_TRUE(wait_until(hub, [](const station_status& s) { return s.commands >= 8; }));
  ASSERT_TRUE(hub.request(station_request::pause));
  ASSERT_TRUE(
      wait_until(hub, [](const station_status& s) { return s.state == station_state::paused; }));
  // Paused: the command in flight has its reply, nothing more goes out.
  const station_status paused = hub.snapshot();
  const int issued = issued_.count;
  EXPECT_EQ(static_cast<uint64_t>(issued), paused.commands);
  usleep(300 * 1000);  // longer than a move takes
  EXPECT_EQ(issued_.count, issued);
  EXPECT_EQ(hub.snapshot().commands, paused.commands);
  EXPECT_EQ(hub.snapshot().state, station_state::paused);
  ASSERT_TRUE(hub.request(station_request::resume));
  const sim_transcript held = finish();
  EXPECT_EQ(exit_code_, 0);
  const station_status end = hub.snapshot();
  EXPECT_EQ(end.state, station_state::finished);
  EXPECT_EQ(end.commands, held.commands.size());
  EXPECT_EQ(end.position[0], held.x);
  EXPECT_EQ(end.position[1], held.y);
  EXPECT_EQ(end.position[2] - z_home_steps, held.z);  // the simulator counts from home

  start(moves, nullptr, "0");
  const sim_transcript straight = finish();
  EXPECT_EQ(exit_code_, 0);
  EXPECT_EQ(held.commands, straight.commands);
  EXPECT_EQ(held.x, straight.x);
  EXPECT_EQ(held.y, straight.y);
  EXPECT_EQ(held.z, straight.z);
}

TEST_F(StationRun, ProgramStopPausesUntilContinueWhereACheckAcceptsIt) {
  const std::string script = "G01 Z2.0\nG01 X0.2\nM00\nG01 Y0.2\n";
  dir_.write("check.nc", script);
  EXPECT_TRUE(run_check("check.nc", {}, false, true).fits());
  EXPECT_FALSE(run_check("check.nc", {}, false, false).fits());  // millrun refuses it
  station_hub hub;
  start(script, &hub, "0");
  ASSERT_TRUE(
      wait_until(hub, [](const station_status& s) { return s.state == station_state::paused; }));
  const station_status paused = hub.snapshot();
  EXPECT_EQ(paused.line, 5);  // held before the line after the stop
  ASSERT_FALSE(paused.messages.empty());
  EXPECT_EQ(paused.messages[0], "Program stop at job.nc:4");
  EXPECT_EQ(issued_.count, 8);  // homing, scales, two moves
  ASSERT_TRUE(hub.request(station_request::resume));
  const sim_transcript wire = finish();
  EXPECT_EQ(exit_code_, 0);
  EXPECT_EQ(wire.commands.size(), 9u);
  EXPECT_EQ(hub.snapshot().state, station_state::finished);
}

TEST_F(StationRun, ARecoveryIsShownAndTheToolFollowsTheMachineThroughIt) {
  station_hub hub;
  start(moves, &hub, "0", {"--fault", "9:hangup"});  // the third move: "G01 Y0.2"
  const sim_transcript wire = finish();
  EXPECT_EQ(exit_code_, 0);
  const station_status end = hub.snapshot();
  EXPECT_EQ(end.state, station_state::finished);
  EXPECT_EQ(end.recoveries, 1);
  EXPECT_EQ(end.last_recovery.rfind("Recovery @ job.nc:4: ", 0), 0u) << end.last_recovery;
  EXPECT_NE(end.last_recovery.find("No Response!"), std::string::npos) << end.last_recovery;
  EXPECT_EQ(end.position[0], wire.x);
  EXPECT_EQ(end.position[1], wire.y);
  EXPECT_EQ(end.position[2] - z_home_steps, wire.z);
}

TEST_F(StationRun, StopWhilePausedEndsTheRunAsCtrlCDoes) {
  station_hub hub;
  hub.request(station_request::pause);  // held before the first line
  start(moves, &hub, "0");
  ASSERT_TRUE(
      wait_until(hub, [](const station_status& s) { return s.state == station_state::paused; }));
  ASSERT_TRUE(hub.request(station_request::stop));
  const sim_transcript wire = finish();
  EXPECT_EQ(exit_code_, 1);
  EXPECT_TRUE(wire.commands.empty());
  const station_status end = hub.snapshot();
  EXPECT_EQ(end.state, station_state::stopped);
  ASSERT_FALSE(end.messages.empty());
  EXPECT_EQ(end.messages[0].rfind("Run stopped: ", 0), 0u) << end.messages[0];
  EXPECT_TRUE(dir_.exists("KelCodeOutput.txt"));
  EXPECT_TRUE(dir_.exists("EnvelopeReport.txt"));
}

}  // namespace
