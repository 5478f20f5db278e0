// The real millsim binary on real pseudo-terminals.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/process.h"
#include "support/sim_process.h"

namespace {

using std::chrono::milliseconds;
using steady = std::chrono::steady_clock;

class MillsimProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (millsim_binary().empty()) GTEST_SKIP() << "built without millsim";
  }
  void start(const std::vector<std::string>& args = {}) {
    ASSERT_TRUE(sim.start(args, link)) << sim.failure();
    ASSERT_TRUE(client.open(sim.device)) << sim.device;
  }
  bool link_exists() const {
    std::error_code ignored;
    return std::filesystem::is_symlink(link, ignored);
  }
  sim_transcript stopped_transcript() {
    EXPECT_TRUE(sim.stop()) << sim.failure() << "\n" << sim.errors();
    sim_transcript t;
    EXPECT_TRUE(parse_sim_transcript(sim.transcript(), t)) << sim.transcript();
    return t;
  }

  temp_dir dir;
  std::string link = dir.file("machine");
  sim_process sim;
  sim_client client;
};

TEST_F(MillsimProcess, AnswersMovesHomesAndQueriesThenWritesTheTranscript) {
  start({"--scale", "y=2048/1688"});
  EXPECT_EQ(sim.device.rfind("/dev/", 0), 0u) << sim.device;
  EXPECT_EQ(sim.link_target(), sim.device);

  EXPECT_EQ(client.exchange("x_move_steps r 607"), "X\r\n");
  EXPECT_EQ(client.exchange("xyz_linear_move_steps xyz ltd 7,303,440"), "X\r\n");
  EXPECT_EQ(client.exchange("get_native_axis_scale Y"), "2048/1688\"/1000\r\n");
  EXPECT_EQ(client.exchange("z_home u"), "0.000\"/1000\r\n");
  EXPECT_EQ(client.exchange("x_move_steps r -1"), "E\r\n");
  // Nothing follows a reply, and nothing is echoed.
  EXPECT_EQ(client.read_quiet(50), "");

  sim_transcript t = stopped_transcript();
  EXPECT_EQ(t.commands, (std::vector<std::string>{
                            "x_move_steps r 607", "xyz_linear_move_steps xyz ltd 7,303,440",
                            "get_native_axis_scale Y", "z_home u", "x_move_steps r -1"}));
  EXPECT_EQ(t.x, 600);
  EXPECT_EQ(t.y, 303);
  EXPECT_EQ(t.z, 0);
  EXPECT_EQ(sim.transcript(),
            "cmd: x_move_steps r 607\ncmd: xyz_linear_move_steps xyz ltd 7,303,440\n"
            "cmd: get_native_axis_scale Y\ncmd: z_home u\ncmd: x_move_steps r -1\n"
            "final: x=600 y=303 z=0\n");
  EXPECT_FALSE(link_exists());
  EXPECT_EQ(sim.extra_output(), "");
}

TEST_F(MillsimProcess, ToleratesLineEndsAndSplitCommandsAndAnswersWithItsOwnLineEnd) {
  start({"--line-end", "lf"});
  ASSERT_TRUE(client.send("\r\n\ny_move_steps t 3\r"));
  EXPECT_EQ(client.read_until("\n"), "X\n");
  ASSERT_TRUE(client.send("y_move"));
  ASSERT_TRUE(client.send("_steps b 1\r\n"));
  EXPECT_EQ(client.read_until("\n"), "X\n");
  ASSERT_TRUE(client.send("x_home l\ny_home b\n"));
  EXPECT_EQ(client.read_until("\n0.000\"/1000\n"), "0.000\"/1000\n0.000\"/1000\n");
  sim_transcript t = stopped_transcript();
  EXPECT_EQ(t.commands.size(), 4u);  // empty lines do not count
  EXPECT_EQ(t.y, 0);
}

TEST_F(MillsimProcess, ClientsMayCloseAndReopenTheSameDevice) {
  start();
  EXPECT_EQ(client.exchange("z_move_steps d 440"), "X\r\n");
  client.close();
  ASSERT_TRUE(client.open(link));
  EXPECT_EQ(client.exchange("z_move_steps d 1"), "X\r\n");
  client.close();
  ASSERT_TRUE(client.open(sim.device));
  EXPECT_EQ(client.exchange("z_move_steps u 41"), "X\r\n");
  EXPECT_FALSE(client.hung_up());
  EXPECT_EQ(sim.link_target(), sim.device);
  EXPECT_EQ(stopped_transcript().z, -400);
}

TEST_F(MillsimProcess, HangupMovesTheLinkToANewDeviceAndKeepsTheState) {
  start({"--fault", "2:hangup"});
  const std::string first = sim.device;
  EXPECT_EQ(client.exchange("x_move_steps r 10"), "X\r\n");
  ASSERT_TRUE(client.send("x_move_steps r 500\n"));
  EXPECT_TRUE(client.wait_hangup(5000));
  // The link is re-pointed before the old terminal closes.
  std::string second = sim.link_target();
  EXPECT_FALSE(second.empty());
  EXPECT_NE(second, first);

  sim_client fresh;
  ASSERT_TRUE(fresh.open(link));
  EXPECT_EQ(fresh.exchange("x_move_steps l 3"), "X\r\n");
  sim_transcript t = stopped_transcript();
  EXPECT_EQ(t.commands, (std::vector<std::string>{"x_move_steps r 10", "x_move_steps r 500",
                                                  "x_move_steps l 3"}));
  EXPECT_EQ(t.x, 7);  // the hung-up command was not executed
  EXPECT_FALSE(link_exists());
}

TEST_F(MillsimProcess, VanishRemovesTheLinkAndStillStopsCleanly) {
  start({"--fault", "1:vanish"});
  ASSERT_TRUE(client.send("y_move_steps t 9\n"));
  EXPECT_TRUE(client.wait_hangup(5000));
  EXPECT_FALSE(link_exists());
  EXPECT_TRUE(sim.running());
  sim_transcript t = stopped_transcript();
  EXPECT_EQ(t.commands, std::vector<std::string>{"y_move_steps t 9"});
  EXPECT_EQ(t.y, 0);
}

TEST_F(MillsimProcess, NoiseArrivesWithTheReplyAndSlowRepliesTakeTheirTime) {
  start({"--fault", "1:noise", "--fault", "2:slow", "--ms-per-step", "2"});
  EXPECT_EQ(client.exchange("x_move_steps r 1", "zz#noise\r\n"), "X\r\nzz#noise\r\n");
  auto began = steady::now();
  EXPECT_EQ(client.exchange("x_move_steps r 1"), "X\r\n");
  // The server waits 30 ms between the three bytes: never less than 60 ms.
  EXPECT_GE(steady::now() - began, milliseconds(60));
  began = steady::now();
  EXPECT_EQ(client.exchange("xyz_linear_move_steps xy rt 10,50"), "X\r\n");
  EXPECT_GE(steady::now() - began, milliseconds(100));
  EXPECT_EQ(stopped_transcript().x, 12);
}

TEST_F(MillsimProcess, ASilentCommandIsExecutedButNeverAnswered) {
  start({"--fault", "1:silent"});
  ASSERT_TRUE(client.send("z_move_steps u 8\n"));
  EXPECT_EQ(client.read_quiet(100), "");
  EXPECT_EQ(client.exchange("z_move_steps u 1"), "X\r\n");
  EXPECT_EQ(stopped_transcript().z, 9);
}

TEST_F(MillsimProcess, SigintStopsLikeSigterm) {
  start();
  EXPECT_EQ(client.exchange("x_move_steps l 2"), "X\r\n");
  ASSERT_TRUE(sim.stop(10000, SIGINT)) << sim.failure();
  EXPECT_EQ(sim.transcript(), "cmd: x_move_steps l 2\nfinal: x=-2 y=0 z=0\n");
  EXPECT_FALSE(link_exists());
}

TEST_F(MillsimProcess, AStopDuringALongMoveEndsAtOnce) {
  start({"--ms-per-step", "1000"});
  // Both lines go in one write, so once the first is answered the second,
  // a move of an hour, has been read and is under way.
  ASSERT_TRUE(client.send("x_move_steps r 0\nx_move_steps r 3600\n"));
  ASSERT_EQ(client.read_until("\r\n"), "X\r\n");
  auto began = steady::now();
  EXPECT_TRUE(sim.stop(5000)) << sim.failure();
  EXPECT_LT(steady::now() - began, milliseconds(5000));
  EXPECT_EQ(sim.transcript(),
            "cmd: x_move_steps r 0\ncmd: x_move_steps r 3600\nfinal: x=3600 y=0 z=0\n");
}

TEST_F(MillsimProcess, TheLongestPossibleMoveWaitsRatherThanWrapping) {
  // 4294967295 ms per step times 4294967295 steps is beyond any clock.
  start({"--ms-per-step", "4294967295"});
  ASSERT_TRUE(client.send("y_move_steps t 4294967295\n"));
  EXPECT_EQ(client.read_quiet(100), "");
  EXPECT_TRUE(sim.stop(5000)) << sim.failure();
  EXPECT_EQ(sim.transcript(), "cmd: y_move_steps t 4294967295\nfinal: x=0 y=4294967295 z=0\n");
}

TEST_F(MillsimProcess, AnUnwritableTranscriptMakesTheExitFail) {
  start({"--transcript", dir.file("missing/folder/t.txt")});
  EXPECT_FALSE(sim.stop());
  EXPECT_EQ(sim.exit_code(), 1);
  EXPECT_NE(sim.errors().find("transcript"), std::string::npos) << sim.errors();
  EXPECT_FALSE(link_exists());
}

TEST_F(MillsimProcess, ReplacesAnOldLinkButNeverAFile) {
  std::filesystem::create_symlink("/dev/null", link);
  start();
  EXPECT_EQ(sim.link_target(), sim.device);
  ASSERT_TRUE(sim.stop()) << sim.failure();

  dir.write("machine", "keep me");
  process_result r = run_process({millsim_binary(), "--link", link}, dir.path(), {}, 10000);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("not a symbolic link"), std::string::npos) << r.err;
  EXPECT_EQ(dir.read("machine"), "keep me");
}

TEST_F(MillsimProcess, UsageErrorsExitTwoAndHelpExitsZero) {
  const std::vector<std::vector<std::string>> bad = {
      {"--fault", "0:error"}, {"--scale", "x=1"}, {"--line-end", "crcr"}, {"--link"}, {"stray"},
  };
  for (const auto& args : bad) {
    std::vector<std::string> argv = {millsim_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    process_result r = run_process(argv, dir.path(), {}, 10000);
    EXPECT_EQ(r.exit_code, 2) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_NE(r.err.find(args[0]), std::string::npos) << r.err;
  }
  process_result help = run_process({millsim_binary(), "--help"}, dir.path(), {}, 10000);
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage: millsim"), std::string::npos);
  EXPECT_NE(help.out.find("--fault N:KIND"), std::string::npos);
}

}  // namespace
