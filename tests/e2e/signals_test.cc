// Stopping a run from outside: real signals sent to the real millrun process
// at chosen points of a run (in a dwell, in the wait for a reply, in the
// reset pulse, in a recovery), and a standard output or error that is not
// there. Each test waits, with a time limit, until the process has reached
// its point (the translation log shows the commands composed before it and
// /proc shows the process blocked in the kind of wait the point has), then
// signals it.
//
// Expected files are worked out from the default scales: X and Y 1024 steps
// per 1.688" (X1.0 is 607 steps, X2.0 1213), Z home 2.11" = 8440 steps.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/device.h"
#include "platform/platform.h"
#include "support/fake_terminal.h"
#include "support/live_process.h"
#include "support/process.h"
#include "support/sim_process.h"

namespace {

const char log_name[] = "KelCodeOutput.txt";
const char report_name[] = "EnvelopeReport.txt";
const std::string home_lines = "x_home l\ny_home b\nz_home u\n";
const std::string default_feeds =
    "Feed Rates: X       = 9.89062500\"/minute\n"
    "Feed Rates: Y       = 9.89062500\"/minute\n"
    "Feed Rates: Z       = 1.50000000\"/minute\n"
    "Feed Rates: XYZ_MAX = 14.06765531\"/minute\n";

std::vector<std::string> after_homing(const std::vector<std::string>& rest) {
  std::vector<std::string> all = {"z_home u",
                                  "x_home l",
                                  "y_home b",
                                  "get_native_axis_scale X",
                                  "get_native_axis_scale Y",
                                  "get_native_axis_scale Z"};
  all.insert(all.end(), rest.begin(), rest.end());
  return all;
}

std::string stopped_at(const std::string& where) {
  return "Run stopped\nThe run was stopped by request @ " + where + ".\n";
}

int scaled(int ms) { return ms * test_time_scale(); }

const char* signal_name(int s) {
  switch (s) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
  }
  return "other";
}

/// Whether `pid` holds `target` open.
bool has_open(pid_t pid, const std::string& target) {
  std::error_code ignored;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
    if (std::filesystem::read_symlink(entry.path(), ignored) == target) return true;
  }
  return false;
}

struct stop_case {
  const char* name;
  std::string script;                                      // job.nc
  std::vector<std::pair<std::string, std::string>> files;  // other files
  bool machine;                                            // COM1 on a simulator
  std::vector<std::string> sim_args;
  std::string log;                          // the log at the point, and at the end
  std::vector<process_activity> waypoints;  // seen in this order once the log is there
  std::string where;                        // the line the stop message names
  std::vector<std::string> wire;            // what the machine received
  std::string resumed = "0";                // "Milling Resumed N times"
};

void PrintTo(const stop_case& c, std::ostream* os) { *os << c.name; }

class StopSignals : public testing::TestWithParam<std::tuple<stop_case, int>> {
 protected:
  temp_dir dir_;
};

TEST_P(StopSignals, RunStopsAtOnceWithItsFilesWritten) {
  const stop_case& c = std::get<0>(GetParam());
  const int signal_number = std::get<1>(GetParam());
  if (c.machine && millsim_binary().empty()) GTEST_SKIP() << "millsim is not built";
  dir_.write("job.nc", c.script);
  for (const auto& [name, text] : c.files) dir_.write(name, text);

  sim_process sim;
  std::vector<std::string> env;
  if (c.machine) {
    ASSERT_TRUE(sim.start(c.sim_args, dir_.file("ttyMILL1"))) << sim.failure();
    env.push_back("MILLRUN_COM1=" + dir_.file("ttyMILL1"));
  }
  live_process run;
  ASSERT_TRUE(run.start({MILLRUN_BINARY, "job.nc"}, dir_.path(), env));

  // The point: the log as it stands there, then the waits in their order.
  // On a machine millrun must hold the port, and the simulator must be idle,
  // so that it has taken in every byte millrun sent before the wait. Checked
  // three times running, so that a byte still on its way through the
  // terminal is not missed.
  ASSERT_TRUE(run.wait_until([&] { return dir_.read(log_name) == c.log; }, scaled(10000)))
      << "log: " << dir_.read(log_name) << "\nerr: " << run.err;
  for (process_activity waypoint : c.waypoints) {
    int steady = 0;
    ASSERT_TRUE(run.wait_until(
        [&] {
          bool there = activity_of(run.pid()) == waypoint &&
                       (!c.machine || (has_open(run.pid(), sim.device) &&
                                       activity_of(sim.pid()) == process_activity::waiting));
          steady = there ? steady + 1 : 0;
          return steady >= 3;
        },
        scaled(10000)))
        << "never reached waypoint " << static_cast<int>(waypoint) << "; err: " << run.err;
  }
  ASSERT_TRUE(run.signal(signal_number));
  ASSERT_TRUE(run.wait_exit(scaled(5000))) << "millrun did not stop; err: " << run.err;

  EXPECT_EQ(run.exit_code, 1) << "killed by signal " << run.killed_by_signal;
  // The stop message, once, and nothing that blames the machine.
  EXPECT_EQ(run.err, stopped_at(c.where));
  EXPECT_EQ(dir_.read(log_name), c.log);
  const std::string report = dir_.read(report_name);
  EXPECT_NE(report.find(default_feeds + "Milling Resumed " + c.resumed + " times\n"),
            std::string::npos)
      << report;
  if (c.machine) {
    ASSERT_TRUE(sim.stop()) << sim.failure();
    sim_transcript wire;
    ASSERT_TRUE(parse_sim_transcript(sim.transcript(), wire)) << sim.transcript();
    // Nothing is sent after the stop: no recovery, no further command.
    EXPECT_EQ(wire.commands, c.wire);
  }
}

const std::string dwell = "G04 P600000\n";  // ten minutes

INSTANTIATE_TEST_SUITE_P(
    Points, StopSignals,
    testing::Combine(
        testing::Values(stop_case{"reply_wait",
                                  "open comm COM1\nG01 X1.0\nG01 X2.0\nG01 X3.0\n",
                                  {},
                                  true,
                                  {"--fault", "8:silent"},
                                  home_lines + "x_move_steps r 607\nx_move_steps r 606\n",
                                  {process_activity::waiting},
                                  "job.nc:3",
                                  after_homing({"x_move_steps r 607", "x_move_steps r 606"})},
                        stop_case{"first_homing",
                                  "open comm COM1\nG01 X1.0\n",
                                  {},
                                  true,
                                  {"--fault", "1:silent"},
                                  "",
                                  {process_activity::waiting},
                                  "job.nc:2",
                                  {"z_home u"}},
                        stop_case{"scale_query",
                                  "open comm COM1\nG01 X1.0\n",
                                  {},
                                  true,
                                  {"--fault", "4:silent"},
                                  home_lines,
                                  {process_activity::waiting},
                                  "job.nc:2",
                                  {"z_home u", "x_home l", "y_home b", "get_native_axis_scale X"}},
                        stop_case{"lpc2000_reset_pulse",
                                  "open comm LPC2000 COM1\nG01 X1.0\nG01 X2.0\n",
                                  {},
                                  true,
                                  {"--fault", "7:error"},
                                  home_lines + "x_move_steps r 607\n",
                                  {process_activity::timed_wait},
                                  "job.nc:2",
                                  after_homing({"x_move_steps r 607"})},
                        stop_case{"recovery_homing",
                                  "open comm LPC2000 COM1\nG01 X1.0\nG01 X2.0\n",
                                  {},
                                  true,
                                  {"--fault", "7:error", "--fault", "8:silent"},
                                  home_lines + "x_move_steps r 607\n",
                                  {process_activity::timed_wait, process_activity::waiting},
                                  "job.nc:2",
                                  after_homing({"x_move_steps r 607", "z_home u"})},
                        stop_case{
                            "recovery_repositioning",
                            "open comm COM1\nG01 X1.0\nG01 X2.0\n",
                            {},
                            true,
                            {"--fault", "8:error", "--fault", "12:silent"},
                            home_lines + "x_move_steps r 607\nx_move_steps r 606\n" + home_lines,
                            {process_activity::waiting},
                            "job.nc:3",
                            after_homing({"x_move_steps r 607", "x_move_steps r 606", "z_home u",
                                          "x_home l", "y_home b", "x_move_steps r 607"})},
                        stop_case{"reply_wait_in_include",
                                  "open comm COM1\ninclude inner.nc\nG01 X3.0\n",
                                  {{"inner.nc", "G01 X1.0\nG01 X2.0\n"}},
                                  true,
                                  {"--fault", "8:silent"},
                                  home_lines + "x_move_steps r 607\nx_move_steps r 606\n",
                                  {process_activity::waiting},
                                  "inner.nc:2",
                                  after_homing({"x_move_steps r 607", "x_move_steps r 606"})},
                        stop_case{"dwell_on_machine",
                                  "open comm COM1\nG01 X1.0\n" + dwell + "G01 X2.0\n",
                                  {},
                                  true,
                                  {},
                                  home_lines + "x_move_steps r 607\n",
                                  {process_activity::timed_wait},
                                  "job.nc:3",
                                  after_homing({"x_move_steps r 607"})},
                        stop_case{"dwell_dry_run",
                                  "G20\nG01 X1.0\n" + dwell + "G01 X2.0\n",
                                  {},
                                  false,
                                  {},
                                  home_lines + "x_move_steps r 607\n",
                                  {process_activity::timed_wait},
                                  "job.nc:3",
                                  {}},
                        stop_case{"dwell_on_the_last_line",
                                  "G20\n" + dwell,
                                  {},
                                  false,
                                  {},
                                  home_lines,
                                  {process_activity::timed_wait},
                                  "job.nc:2",
                                  {}},
                        stop_case{"dwell_of_200_digits",  // capped at 4294967295 ms
                                  "G20\nG04 P" + std::string(200, '9') + "\n",
                                  {},
                                  false,
                                  {},
                                  home_lines,
                                  {process_activity::timed_wait},
                                  "job.nc:2",
                                  {}},
                        stop_case{"dwell_in_nested_includes",
                                  "G20\ninclude middle.nc\nG01 X2.0\n",
                                  {{"middle.nc", "include inner.nc\nG01 X3.0\n"},
                                   {"inner.nc", "G01 X1.0\n" + dwell + "G01 X1.5\n"}},
                                  false,
                                  {},
                                  home_lines + "x_move_steps r 607\n",
                                  {process_activity::timed_wait},
                                  "inner.nc:2",
                                  {}}),
        testing::Values(SIGINT, SIGTERM, SIGHUP)),
    [](const testing::TestParamInfo<std::tuple<stop_case, int>>& info) {
      return std::string(std::get<0>(info.param).name) + "_" + signal_name(std::get<1>(info.param));
    });

// ---------------------------------------------------------------------------
// The stop request in this process: it ends every wait, also one that only
// begins after the request (a signal that came just before a wait must not
// be lost until the next one).

struct stop_request_guard {
  stop_request_guard() { platform_request_stop(); }
  ~stop_request_guard() { platform_clear_stop(); }
};

TEST(StopRequest, EndsWaitsThatBeginAfterIt) {
  temp_dir dir;
  ASSERT_EQ(mkfifo(dir.file("link").c_str(), 0600), 0);
  port_handle link =
      platform_open_device(dir.file("link").c_str(), port_kind::file, open_disposition::existing);
  ASSERT_NE(link, nullptr);
  {
    stop_request_guard stop;
    EXPECT_FALSE(platform_sleep_ms(60000));  // a minute, if not ended at once
    unsigned char byte = 0;
    EXPECT_EQ(link->wait_byte(byte), read_status::gone);  // nothing will ever come
  }
  EXPECT_TRUE(platform_sleep_ms(1));
  platform_close_device(link);
}

// ---------------------------------------------------------------------------
// Waits that only a stop ends.

class StopEndless : public testing::Test {
 protected:
  temp_dir dir_;
};

TEST_F(StopEndless, ScriptThatIsAFifoNobodyWritesTo) {
  // A FIFO is no regular file: it is not opened (which would wait for a
  // writer) and the run ends at once, as for a script that cannot be read.
  ASSERT_EQ(mkfifo(dir_.file("fifo.nc").c_str(), 0600), 0);
  live_process run;
  ASSERT_TRUE(run.start({MILLRUN_BINARY, "fifo.nc"}, dir_.path()));
  ASSERT_TRUE(run.wait_exit(scaled(5000)));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(dir_.read(log_name), "");
  EXPECT_TRUE(dir_.exists(report_name));
}

/// A node of its own for a character device (/dev/zero is 1,5), so that
/// millrun's exclusive lock does not meet another test's. Empty when the
/// node cannot be made (no right to, or a file system without devices).
std::string private_device(const temp_dir& dir, const std::string& name, unsigned major_number,
                           unsigned minor_number) {
  const std::string path = dir.file(name);
  if (mknod(path.c_str(), S_IFCHR | 0600, makedev(major_number, minor_number)) != 0) return "";
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return "";
  ::close(fd);
  return path;
}

TEST_F(StopEndless, LinkThatNeverStopsSendingZeroBytes) {
  // A file link on a zero device: the reply after the first home command
  // never ends (zero bytes end the text, not the line); memory stays bounded
  // and the stop ends the wait.
  const std::string zero = private_device(dir_, "zero", 1, 5);
  if (zero.empty()) GTEST_SKIP() << "cannot make a device node here";
  dir_.write("job.nc", "open comm zero\nG01 X1.0\n");
  live_process run;
  ASSERT_TRUE(run.start({MILLRUN_BINARY, "job.nc"}, dir_.path()));
  ASSERT_TRUE(run.wait_until([&] { return has_open(run.pid(), zero); }, scaled(10000))) << run.err;
  ASSERT_TRUE(run.signal(SIGINT));
  ASSERT_TRUE(run.wait_exit(scaled(5000)));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, stopped_at("job.nc:2"));
  EXPECT_EQ(dir_.read(log_name), "");
}

TEST_F(StopEndless, LinkThatNeverStopsSendingRandomBytesEndsWithoutAStop) {
  // A file link on a random device: the drain before the first command is
  // bounded, so the command goes out, and its "reply" (random bytes up to a
  // line end) is not the home reply: the run ends by itself.
  const std::string random = private_device(dir_, "random", 1, 9);
  if (random.empty()) GTEST_SKIP() << "cannot make a device node here";
  dir_.write("job.nc", "open comm random\nG01 X1.0\n");
  live_process run;
  ASSERT_TRUE(run.start({MILLRUN_BINARY, "job.nc"}, dir_.path()));
  ASSERT_TRUE(run.wait_exit(scaled(20000))) << "the drain did not end";
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(dir_.read(log_name), "");  // never homed, nothing composed
}

TEST_F(StopEndless, ReplyThatNeverEndsButKeepsSendingText) {
  // After the first home command the controller sends letters without end.
  // millrun reads them on (keeping at most 64 KiB), and the stop ends the
  // wait: no "No Response!", no recovery.
  fake_terminal controller(device_end::held_open);  // a controller played by the test
  ASSERT_FALSE(controller.device().empty());
  dir_.write("job.nc", "open comm COM1\nG01 X1.0\n");
  live_process run;
  ASSERT_TRUE(
      run.start({MILLRUN_BINARY, "job.nc"}, dir_.path(), {"MILLRUN_COM1=" + controller.device()}));
  ASSERT_TRUE(
      run.wait_until([&] { return controller.take_input() == "z_home u\n"; }, scaled(10000)))
      << controller.take_input();
  // 128 KiB, twice what is kept; the terminal holds only a few KiB, so
  // millrun has read all but those when the last part is taken.
  const std::string letters(4096, 'A');
  size_t sent = 0;
  ASSERT_TRUE(run.wait_until(
      [&] {
        sent += controller.offer(letters);
        return sent >= 128 * 1024;
      },
      scaled(20000)));
  ASSERT_TRUE(run.signal(SIGINT));
  ASSERT_TRUE(run.wait_exit(scaled(5000)));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, stopped_at("job.nc:2"));
  EXPECT_EQ(controller.take_input(), "z_home u\n");
  EXPECT_EQ(dir_.read(log_name), "");
}

// ---------------------------------------------------------------------------
// Standard output and error that are not there.

/// A dry-run job of `moves` lines between X1.0 and X2.0, and its log.
std::pair<std::string, std::string> back_and_forth(int moves) {
  std::string script = "G20\n";
  std::string log = home_lines;
  for (int i = 0; i < moves; ++i) {
    const bool out = i % 2 == 0;
    script += out ? "G01 X2.0\n" : "G01 X1.0\n";
    log += i == 0 ? "x_move_steps r 1213\n" : out ? "x_move_steps r 606\n" : "x_move_steps l 606\n";
  }
  return {script, log};
}

const std::string back_and_forth_report =
    "X: MIN = 00000000 steps, MAX = 00001213 steps\n"
    "Y: MIN = 00000000 steps, MAX = 00000000 steps\n"
    "Z: MIN = 00008440 steps, MAX = 00008440 steps\n" +
    default_feeds + "Milling Resumed 0 times\n";

struct output_case {
  const char* name;
  child_output output;
};

void PrintTo(const output_case& c, std::ostream* os) { *os << c.name; }

class MissingOutput : public testing::TestWithParam<output_case> {};

TEST_P(MissingOutput, TraceThatCannotBeWrittenDoesNotStopTheRun) {
  temp_dir dir;
  auto [script, log] = back_and_forth(2000);  // far more trace than a pipe holds
  dir.write("job.nc", script);
  live_process run;
  ASSERT_TRUE(run.start({MILLRUN_BINARY, "job.nc"}, dir.path(), {}, {GetParam().output}));
  ASSERT_TRUE(run.wait_exit(scaled(20000)));
  EXPECT_EQ(run.killed_by_signal, 0);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(without_estimate(run.err), "");
  // With descriptor 1 closed the log must not take its place and fill with
  // the trace.
  EXPECT_EQ(dir.read(log_name), log);
  EXPECT_EQ(dir.read(report_name), back_and_forth_report);
}

INSTANTIATE_TEST_SUITE_P(Outputs, MissingOutput,
                         testing::Values(output_case{"broken_pipe", child_output::broken_pipe},
                                         output_case{"closed", child_output::closed},
                                         output_case{"full_device", child_output::full_device}),
                         [](const testing::TestParamInfo<output_case>& info) {
                           return std::string(info.param.name);
                         });

TEST(MissingOutputMidRun, ReaderThatGoesAwayAfterTheFirstLine) {
  // millrun job.nc | head -1
  temp_dir dir;
  auto [script, log] = back_and_forth(2000);
  dir.write("job.nc", script);
  live_process run;
  ASSERT_TRUE(run.start({MILLRUN_BINARY, "job.nc"}, dir.path()));
  ASSERT_TRUE(
      run.wait_until([&] { return run.out.find('\n') != std::string::npos; }, scaled(10000)));
  run.close_output();
  ASSERT_TRUE(run.wait_exit(scaled(20000)));
  EXPECT_EQ(run.killed_by_signal, 0);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(without_estimate(run.err), "");
  EXPECT_EQ(dir.read(log_name), log);
  EXPECT_EQ(dir.read(report_name), back_and_forth_report);
}

TEST(MissingOutputMidRun, ClosedStandardErrorKeepsMessagesOutOfTheFiles) {
  // With descriptor 2 closed, the first file opened would take its number
  // and receive the messages.
  temp_dir dir;
  dir.write("job.nc", "G01 X1.0\nG02 X1 Y1\n");
  live_process run;
  ASSERT_TRUE(run.start({MILLRUN_BINARY, "job.nc"}, dir.path(), {},
                        {child_output::captured, child_output::closed}));
  ASSERT_TRUE(run.wait_exit(scaled(10000)));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(dir.read(log_name), "x_move_steps r 607\n" + home_lines);
  EXPECT_EQ(dir.read(report_name).find("Unknown"), std::string::npos);
}

}  // namespace
