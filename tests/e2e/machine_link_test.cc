// millrun driving the simulated controller over a real pseudo-terminal:
// the real millrun and millsim processes, no hardware.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/sim_process.h"

namespace {

const std::string default_feeds =
    "Feed Rates: X       = 9.89062500\"/minute\n"
    "Feed Rates: Y       = 9.89062500\"/minute\n"
    "Feed Rates: Z       = 1.50000000\"/minute\n"
    "Feed Rates: XYZ_MAX = 14.06765531\"/minute\n";

const std::vector<std::string> first_homing = {"z_home u",
                                               "x_home l",
                                               "y_home b",
                                               "get_native_axis_scale X",
                                               "get_native_axis_scale Y",
                                               "get_native_axis_scale Z"};

/// The first homing's exchanges followed by `rest`.
std::vector<std::string> after_homing(const std::vector<std::string>& rest) {
  std::vector<std::string> all = first_homing;
  all.insert(all.end(), rest.begin(), rest.end());
  return all;
}

struct machine_run {
  process_result result;
  sim_transcript wire;
  std::string log;
  std::string report;
};

class MachineLink : public testing::Test {
 protected:
  void SetUp() override {
    if (millsim_binary().empty()) GTEST_SKIP() << "millsim is not built";
  }

  /// Runs `script` (as job.nc) on a fresh simulator started with `sim_args`,
  /// COM1 pointing at its link.
  machine_run run(const std::string& script, const std::vector<std::string>& sim_args = {},
                  const std::string& script_name = "job.nc") {
    machine_run r;
    dir_.write(script_name, script);
    sim_process sim;
    const std::string link = dir_.file("ttyMILL1");
    if (!sim.start(sim_args, link)) {
      ADD_FAILURE() << "millsim did not start: " << sim.failure();
      return r;
    }
    r.result =
        run_process({MILLRUN_BINARY, script_name}, dir_.path(), {"MILLRUN_COM1=" + link}, 30000);
    EXPECT_FALSE(r.result.timed_out) << "millrun did not end";
    EXPECT_TRUE(sim.stop()) << sim.failure();
    EXPECT_TRUE(parse_sim_transcript(sim.transcript(), r.wire)) << sim.transcript();
    r.log = dir_.read("KelCodeOutput.txt");
    r.report = dir_.read("EnvelopeReport.txt");
    return r;
  }

  temp_dir dir_;
};

TEST_F(MachineLink, FirstLineHomesQueriesThenSendsFromHome) {
  machine_run r = run("open comm COM1\nG01 X1.0\nG01 X2.0\n");
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  // The machine is homed and asked for its scales before the first command;
  // the second command is measured from where the first one ended.
  EXPECT_EQ(r.wire.commands, after_homing({"x_move_steps r 607", "x_move_steps r 606"}));
  EXPECT_EQ(r.log, "x_home l\ny_home b\nz_home u\nx_move_steps r 607\nx_move_steps r 606\n");
  EXPECT_EQ(r.report,
            "X: MIN = 00000000 steps, MAX = 00001213 steps\n"
            "Y: MIN = 00000000 steps, MAX = 00000000 steps\n"
            "Z: MIN = 00008440 steps, MAX = 00008440 steps\n" +
                default_feeds + "Milling Resumed 0 times\n");
  EXPECT_EQ(r.wire.x, 1213);
  EXPECT_EQ(r.wire.y, 0);
  EXPECT_EQ(r.wire.z, 0);
  EXPECT_NE(r.result.out.find("gCode: G01 X1.0\nCMD: x_move_steps r 607\nRESP: X\n"
                              "gCode: G01 X2.0\nCMD: x_move_steps r 606\nRESP: X\n"),
            std::string::npos)
      << r.result.out;
  EXPECT_EQ(r.result.err, "");
}

TEST_F(MachineLink, FirstZMoveStartsFromTheTopOfTravel) {
  // Composed before the homing, G01 Z2.0 would drive Z 8000 steps up.
  machine_run r = run("open comm COM1\nG01 Z2.0\n");
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.wire.commands, after_homing({"z_move_steps d 440"}));
  EXPECT_EQ(r.wire.z, -440);
}

TEST_F(MachineLink, LinesBeforeTheLinkDoNotStandForAMachineHoming) {
  machine_run r = run("G01 X0.5\nopen comm COM1\nG01 X1.0\n");
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.wire.commands, after_homing({"x_move_steps r 607"}));
  EXPECT_EQ(r.wire.x, 607);
}

TEST_F(MachineLink, FailedLineIsCutAgainFromItsStart) {
  // Standing at X 0, Y 0, Z 2.0, the linear move (command 8) is rejected
  // once: home, Z back down to where the line started, the line again.
  machine_run r =
      run("open comm COM1\nG01 Z2.0\nG01 X1.0 Y0.5\nG01 X1.5\n", {"--fault", "8:error"});
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.wire.commands,
            after_homing({"z_move_steps d 440", "xyz_linear_move_steps xy rt 607,303", "z_home u",
                          "x_home l", "y_home b", "z_move_steps d 440",
                          "xyz_linear_move_steps xy rt 607,303", "x_move_steps r 303"}));
  EXPECT_EQ(r.log,
            "x_home l\ny_home b\nz_home u\nz_move_steps d 440\n"
            "xyz_linear_move_steps xy rt 607,303\n"
            "x_home l\ny_home b\nz_home u\nz_move_steps d 440\n"
            "xyz_linear_move_steps xy rt 607,303\nx_move_steps r 303\n");
  EXPECT_EQ(r.report,
            "X: MIN = 00000000 steps, MAX = 00000910 steps\n"
            "Y: MIN = 00000000 steps, MAX = 00000303 steps\n"
            "Z: MIN = 00008000 steps, MAX = 00008440 steps\n" +
                default_feeds + "Milling Resumed 1 times\n");
  EXPECT_NE(r.result.out.find("ERR: E\n"), std::string::npos);
  EXPECT_EQ(r.wire.x, 910);
  EXPECT_EQ(r.wire.y, 303);
  EXPECT_EQ(r.wire.z, -440);
}

TEST_F(MachineLink, PlungingLineRecoveredMidJobKeepsItsPathAndTheEnvelope) {
  // Command 9 goes deeper while it moves; it is rejected once. X reached
  // 1213 steps before the failure, further than anything after it.
  machine_run r =
      run("open comm COM1\nG01 X2.0\nG01 X0.5 Z2.0\nG01 X1.0 Y0.5 Z1.9\n", {"--fault", "9:error"});
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  // Z comes down to the line's start depth only once X and Y stand at its
  // start; the depth of its end is reached by the line itself.
  EXPECT_EQ(r.wire.commands,
            after_homing({"x_move_steps r 1213", "xyz_linear_move_steps xz ld 910,440",
                          "xyz_linear_move_steps xyz rtd 304,303,400", "z_home u", "x_home l",
                          "y_home b", "x_move_steps r 303", "z_move_steps d 440",
                          "xyz_linear_move_steps xyz rtd 304,303,400"}));
  EXPECT_EQ(r.report,
            "X: MIN = 00000000 steps, MAX = 00001213 steps\n"
            "Y: MIN = 00000000 steps, MAX = 00000303 steps\n"
            "Z: MIN = 00007600 steps, MAX = 00008440 steps\n" +
                default_feeds + "Milling Resumed 1 times\n");
  EXPECT_EQ(r.wire.x, 607);
  EXPECT_EQ(r.wire.y, 303);
  EXPECT_EQ(r.wire.z, -840);
}

TEST_F(MachineLink, FirstLineOfAJobIsRecoveredFromHome) {
  machine_run r = run("open comm COM1\nG01 X1.0\n", {"--fault", "7:error"});
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.wire.commands, after_homing({"x_move_steps r 607", "z_home u", "x_home l", "y_home b",
                                           "x_move_steps r 607"}));
  EXPECT_EQ(r.wire.x, 607);
  EXPECT_NE(r.report.find("Milling Resumed 1 times\n"), std::string::npos) << r.report;
}

TEST_F(MachineLink, PortReplacedByALaterOpenCommCanBeReopened) {
  // COM1 is replaced by a link opened by its path; when that link fails,
  // the recovery opens COM1 again, which millrun no longer holds.
  sim_process second;
  ASSERT_TRUE(second.start({"--fault", "7:hangup"}, dir_.file("ttyOTHER"))) << second.failure();
  machine_run r = run("open comm COM1\nopen comm " + dir_.file("ttyOTHER") + "\nG01 X1.0\n");
  EXPECT_TRUE(second.stop()) << second.failure();
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.wire.commands,
            (std::vector<std::string>{"z_home u", "x_home l", "y_home b", "x_move_steps r 607"}));
  EXPECT_EQ(r.wire.x, 607);
}

TEST_F(MachineLink, ScaleRepliesAcceptedAndRejected) {
  // X's reply lacks its ending and is rejected; Y's leading blank is read
  // past; Z's new scale moves the Z home position with it.
  machine_run r = run("open comm COM1\nG01 X1.0 Y1.0\nG01 Z2.0\n",
                      {"--scale-reply", "x=2048/1688", "--scale-reply", "y= 2048/1688\"/1000",
                       "--scale", "z=8000/1000"});
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.wire.commands,
            after_homing({"xyz_linear_move_steps xy rt 607,1213", "z_move_steps d 880"}));
  EXPECT_NE(r.result.out.find("ERR: 2048/1688\n"), std::string::npos);
  // 60 x 1688 / (2048 x 10) for Y; Z 60 x 1000 / (8000 x 10).
  EXPECT_NE(r.report.find("Feed Rates: X       = 9.89062500\"/minute\n"
                          "Feed Rates: Y       = 4.94531250\"/minute\n"
                          "Feed Rates: Z       = 0.75000000\"/minute\n"),
            std::string::npos)
      << r.report;
  EXPECT_NE(r.report.find("Z: MIN = 00016000 steps, MAX = 00016880 steps\n"), std::string::npos)
      << r.report;
  EXPECT_EQ(r.wire.x, 607);
  EXPECT_EQ(r.wire.y, 1213);
  EXPECT_EQ(r.wire.z, -880);
}

TEST_F(MachineLink, BlankBeforeTheSlashKeepsTheScale) {
  machine_run r = run("open comm COM1\nG01 X1.0\n", {"--scale-reply", "x=2048 /1688\"/1000"});
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_EQ(r.wire.commands.back(), "x_move_steps r 607");
}

struct fault_case {
  const char* name;
  std::vector<std::string> sim_args;
  int recoveries;
  const char* stderr_has;  // a message that must appear, or ""
};

class LinkFaults : public MachineLink, public testing::WithParamInterface<fault_case> {};

TEST_P(LinkFaults, JobEndsAtItsTarget) {
  const fault_case& c = GetParam();
  machine_run r =
      run("open comm COM1\nG01 X1.0 Y0.5\nG01 Z2.0\nG01 X2.0\nG01 Y1.0 Z1.9\n", c.sim_args);
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_NE(r.report.find("Milling Resumed " + std::to_string(c.recoveries) + " times\n"),
            std::string::npos)
      << r.report;
  if (*c.stderr_has)
    EXPECT_NE(r.result.err.find(c.stderr_has), std::string::npos) << r.result.err;
  else
    EXPECT_EQ(r.result.err, "");
  // The invariant that matters most: the machine stands at the last target.
  EXPECT_EQ(r.wire.x, 1213);
  EXPECT_EQ(r.wire.y, 607);
  EXPECT_EQ(r.wire.z, -840);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LinkFaults,
    testing::Values(
        fault_case{"healthy", {}, 0, ""}, fault_case{"lf_endings", {"--line-end", "lf"}, 0, ""},
        fault_case{"cr_endings", {"--line-end", "cr"}, 0, ""},
        fault_case{"noise_after_reply", {"--fault", "7:noise"}, 0, ""},
        fault_case{"slow_reply", {"--fault", "8:slow"}, 0, ""},
        fault_case{"error_reply", {"--fault", "8:error"}, 1, ""},
        fault_case{"garbage_reply", {"--fault", "9:garbage"}, 1, ""},
        fault_case{"empty_reply", {"--fault", "7:empty"}, 1, "CNC Machine Response: No Response!"},
        fault_case{"hangup_mid_job", {"--fault", "9:hangup"}, 1, "No Response!"},
        fault_case{
            "two_faults", {"--fault", "7:error", "--fault", "14:hangup"}, 2, "No Response!"}),
    [](const testing::TestParamInfo<fault_case>& info) { return std::string(info.param.name); });

TEST_F(MachineLink, RecoveryInsideAnIncludedFileHandsThePortBack) {
  // The link hangs up during the included file; the port re-opened there is
  // the one the including file goes on with (and closes at its end).
  dir_.write("inner.nc", "G01 X1.0\nG01 Y0.5\n");
  machine_run r =
      run("open comm COM1\ninclude inner.nc\nG01 X2.0\nG01 Z2.0\n", {"--fault", "8:hangup"});
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_NE(r.report.find("Milling Resumed 1 times\n"), std::string::npos) << r.report;
  EXPECT_EQ(r.wire.commands.back(), "z_move_steps d 440");
  EXPECT_EQ(r.wire.x, 1213);
  EXPECT_EQ(r.wire.y, 303);
  EXPECT_EQ(r.wire.z, -440);
}

TEST_F(MachineLink, MissingSerialPortIsReported) {
  dir_.write("job.nc", "open comm COM1\nG01 X1.0\n");
  process_result r = run_process({MILLRUN_BINARY, "job.nc"}, dir_.path(),
                                 {"MILLRUN_COM1=" + dir_.file("no-such-port")});
  EXPECT_EQ(r.exit_code, 1);
  const std::string message =
      "Failed to Open COMM Port\nAn error occurred while trying to open Serial Port \"COM1\"\n";
  ASSERT_EQ(r.err.rfind(message, 0), 0u) << r.err;
  // A second line says what was tried: on Linux the device MILLRUN_COM1
  // names; Windows (millrun.exe under Wine) names \\.\COM1 and its own reason.
  const std::string note = r.err.substr(message.size());
  if (std::string(MILLRUN_BINARY).find("wine") != std::string::npos)
    EXPECT_NE(note.find("COM1"), std::string::npos) << note;
  else
    EXPECT_EQ(note, "Tried COM1 as the device " + dir_.file("no-such-port") +
                        " (from MILLRUN_COM1): No such file or directory. Set MILLRUN_COM1 to "
                        "the device of the controller's port (for example "
                        "MILLRUN_COM1=/dev/ttyUSB0), or name the device after \"open comm\".\n");
  EXPECT_EQ(dir_.read("KelCodeOutput.txt"), "");
}

TEST_F(MachineLink, TerminalNamedUnderDevIsASerialPortReopenedByRecovery) {
  // The simulator's own /dev/pts path, as a Linux user names a port; the
  // rejected command makes the recovery open it again.
  sim_process sim;
  ASSERT_TRUE(sim.start({"--fault", "8:error"})) << sim.failure();
  dir_.write("job.nc", "open comm " + sim.device + "\nG01 X1.0\nG01 X2.0\n");
  process_result r = run_process({MILLRUN_BINARY, "job.nc"}, dir_.path(), {}, 30000);
  ASSERT_TRUE(sim.stop()) << sim.failure();
  sim_transcript wire;
  ASSERT_TRUE(parse_sim_transcript(sim.transcript(), wire)) << sim.transcript();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(wire.commands,
            after_homing({"x_move_steps r 607", "x_move_steps r 606", "z_home u", "x_home l",
                          "y_home b", "x_move_steps r 607", "x_move_steps r 606"}));
  EXPECT_EQ(wire.x, 1213);
}

TEST_F(MachineLink, SecondOpeningOfAnOpenPortFails) {
  machine_run r = run("open comm COM1\nopen comm COM1\nG01 X1.0\n");
  EXPECT_EQ(r.result.exit_code, 1);
  EXPECT_NE(r.result.err.find("An error occurred while trying to open Serial Port \"COM1\""),
            std::string::npos);
  EXPECT_TRUE(r.wire.commands.empty());
}

TEST_F(MachineLink, DeviceGoneForGoodEndsTheRun) {
  machine_run r = run("open comm COM1\nG01 X1.0\nG01 X2.0\n", {"--fault", "8:vanish"});
  EXPECT_EQ(r.result.exit_code, 1);
  EXPECT_NE(r.result.err.find("No Response!"), std::string::npos) << r.result.err;
  EXPECT_NE(r.result.err.find("Failed to Open COMM Port"), std::string::npos) << r.result.err;
  // The last word names the line that was cut short, to resume at.
  const std::string advice = "Resume with: millresume job.nc 3\n";
  ASSERT_GE(r.result.err.size(), advice.size());
  EXPECT_EQ(r.result.err.substr(r.result.err.size() - advice.size()), advice) << r.result.err;
}

TEST_F(MachineLink, FailedFirstHomingStopsTheLine) {
  machine_run r = run("open comm COM1\nG01 X1.0\n", {"--fault", "1:error"});
  EXPECT_EQ(r.result.exit_code, 1);
  // Nothing is sent after the failed home command, and the user is told
  // which line could not run.
  EXPECT_EQ(r.wire.commands, std::vector<std::string>{"z_home u"});
  EXPECT_EQ(r.result.err,
            "Homing failed @ job.nc:2\nThe machine could not be homed before the command of @ "
            "job.nc:2:\n    G01 X1.0\nNothing more is sent. The controller's reply is in the "
            "trace.\n");
  EXPECT_NE(r.result.out.find("ERR: E\n"), std::string::npos);
}

TEST_F(MachineLink, FileLinkEndsWithoutAHang) {
  dir_.write("job.nc", "open comm reply.txt\nG01 X1.0\n");
  process_result r = run_process({MILLRUN_BINARY, "job.nc"}, dir_.path(), {}, 20000);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("No Response!"), std::string::npos) << r.err;
}

TEST_F(MachineLink, DemoJobWithFaultsEndsAtItsLastTarget) {
  for (const char* name : {"demo.nc", "demo_holes.nc", "demo_machine.nc"})
    dir_.write(name, read_file(std::string(MILLRUN_SOURCE_DIR) + "/examples/" + name));
  process_result target = run_process(
      {"/usr/bin/awk", "-f", std::string(MILLRUN_SOURCE_DIR) + "/tools/last-target.awk", "demo.nc"},
      dir_.path());
  ASSERT_EQ(target.exit_code, 0) << target.err;
  machine_run r = run(dir_.read("demo_machine.nc"),
                      {"--fault", "20:error", "--fault", "75:hangup", "--fault", "150:empty",
                       "--fault", "240:garbage", "--fault", "300:noise"},
                      "demo_machine.nc");
  EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
  EXPECT_NE(r.report.find("Milling Resumed 4 times\n"), std::string::npos) << r.report;
  char final_position[96];
  std::snprintf(final_position, sizeof final_position, "x=%lld y=%lld z=%lld\n",
                static_cast<long long>(r.wire.x), static_cast<long long>(r.wire.y),
                static_cast<long long>(r.wire.z));
  EXPECT_EQ(final_position, target.out);
}

}  // namespace
