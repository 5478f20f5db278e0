// Input that no sane job holds, where the program's process is the point:
// files it cannot read, paths far beyond the usual, replies without end
// (the scripts themselves run in process: tests/runner/hostile_scripts_test.cc).
// Each has a clear outcome: the run goes on, or it stops with exit code 1
// and a message naming file and line (or, for a file that cannot be read, as
// a missing file does, without one). Never a crash, a hang or memory
// without bound; the sanitizer and valgrind runs of this suite check the
// rest.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "link/command_exchange.h"
#include "support/fake_device.h"
#include "support/message_recorder.h"
#include "support/process.h"
#include "support/sim_process.h"

namespace {

const char log_name[] = "KelCodeOutput.txt";
const char report_name[] = "EnvelopeReport.txt";
const std::string zero_report =
    "X: MIN = 00000000 steps, MAX = 00000000 steps\n"
    "Y: MIN = 00000000 steps, MAX = 00000000 steps\n"
    "Z: MIN = 00000000 steps, MAX = 00000000 steps\n"
    "Feed Rates: X       = 9.89062500\"/minute\n"
    "Feed Rates: Y       = 9.89062500\"/minute\n"
    "Feed Rates: Z       = 1.50000000\"/minute\n"
    "Feed Rates: XYZ_MAX = 14.06765531\"/minute\n"
    "Milling Resumed 0 times\n";

process_result run_millrun(const temp_dir& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv{MILLRUN_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  process_result r = run_process(argv, dir.path());
  EXPECT_FALSE(r.timed_out) << "millrun did not finish";
  return r;
}

std::string invalid_character(const std::string& where, const std::string& shown,
                              const std::string& byte, int column) {
  std::string text = "Invalid character @ " + where + "\nInvalid character @ " + where + ":\n    " +
                     shown + "\nByte 0x" + byte + " at column " + std::to_string(column) +
                     " is not text; a script is plain text (ASCII or UTF-8).";
  if (byte == "00") text += " A file saved as UTF-16 holds a zero byte in every other column.";
  return text + "\n";
}

TEST(HostileFiles, WhatTheSystemReadsAndOpens) {
  // The whole table runs in process (tests/runner/hostile_scripts_test.cc);
  // these are read from disk, and the ports opened, by the real program,
  // under Wine too, where opening a port is Windows' own code.
  struct Case {
    std::string script;
    std::string err;
    std::string log = "";
  };
  const std::string port_error =
      "Failed to Open COMM Port\nAn error occurred while trying to open ";
  const Case cases[] = {
      {std::string("G01 X1.0\nG01 X2\0.5 Y1.0\nG01 X3.0\n", 33),
       invalid_character("job.nc:2", "G01 X2?.5 Y1.0", "00", 7),
       "x_move_steps r 607\nx_home l\ny_home b\nz_home u\n"},
      {std::string("\xFF\xFEG\0"
                   "0\0"
                   "1\0 \0X\0"
                   "1\0\r\0\n\0",
                   18),
       invalid_character("job.nc:1", "\xFF\xFEG?0?1? ?X?1?", "00", 4)},
      {"open comm " + std::string(1000, 'n') + "\nG01 X1.0\n",
       port_error + "File \"" + std::string(1000, 'n') + "\"\n"},
      {"open comm COM" + std::string(997, '9') + "\nG01 X1.0\n",
       port_error + "Serial Port \"COM" + std::string(997, '9') + "\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script.substr(0, 20));
    temp_dir dir;
    dir.write("job.nc", c.script);
    process_result r = run_millrun(dir, {"job.nc"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(dir.read(log_name), c.log);
  }
}

TEST(HostileFiles, BytesOfNoKindAtAll) {
  // Pseudo-random bytes: the first line stops the run, as not text or as
  // not G-code, before anything is composed.
  temp_dir dir;
  std::string junk;
  uint32_t state = 12345;
  for (int i = 0; i < 65536; ++i) {
    state = state * 1103515245u + 12345u;
    junk += static_cast<char>(state >> 24);
  }
  dir.write("junk.nc", junk);
  process_result r = run_millrun(dir, {"junk.nc"});
  EXPECT_EQ(r.exit_code, 1);
  const std::string caption = r.err.substr(0, r.err.find('\n'));
  EXPECT_TRUE(caption == "Invalid character @ junk.nc:1" || caption == "Unknown GCode @ junk.nc:1")
      << r.err;
  EXPECT_EQ(dir.read(log_name), "");
}

TEST(HostileFiles, ScriptPathOf5000Characters) {
  temp_dir dir;
  dir.write("job.nc", "G01 X1.0\n");
  std::string through_dots;
  while (through_dots.size() < 5000 - 6) through_dots += "./";
  for (const std::string& path : {std::string(5000, 'a'), through_dots + "job.nc"}) {
    SCOPED_TRACE(path.size());
    process_result r = run_millrun(dir, {path});
    // As for a missing file: exit code 1, no message, the report written.
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(without_estimate(r.err), "");
    EXPECT_EQ(dir.read(log_name), "");
    EXPECT_EQ(dir.read(report_name), zero_report);
  }
}

TEST(HostileFiles, ScriptThatCannotBeRead) {
  temp_dir dir;
  std::filesystem::create_directory(dir.file("folder.nc"));
  // A folder, and a file whose reading fails with an I/O error.
  for (const char* path : {"folder.nc", "/proc/self/mem"}) {
    SCOPED_TRACE(path);
    process_result r = run_millrun(dir, {path});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(without_estimate(r.err), "");
    EXPECT_EQ(dir.read(report_name), zero_report);
  }
}

TEST(HostileFiles, ScriptWithoutReadPermission) {
  temp_dir dir;
  dir.write("locked.nc", "G01 X1.0\n");
  ASSERT_EQ(chmod(dir.file("locked.nc").c_str(), 0), 0);
  if (access(dir.file("locked.nc").c_str(), R_OK) == 0)
    GTEST_SKIP() << "running as root (or with CAP_DAC_OVERRIDE): a file without read "
                    "permission is still readable; see ScriptThatCannotBeRead";
  process_result r = run_millrun(dir, {"locked.nc"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(without_estimate(r.err), "");
  EXPECT_EQ(dir.read(log_name), "");
}

// ---------------------------------------------------------------------------
// Replies.

TEST(HostileReplies, ScaleRepliesOf100000Bytes) {
  if (millsim_binary().empty()) GTEST_SKIP() << "millsim is not built";
  // X's reply is letters; Y's would be a good scale reply if it were read
  // whole, but only its first 64 KiB are kept, so it is rejected too: both
  // axes keep their default scales, and the run goes on.
  const size_t kept = 64 * 1024;
  const std::string x_reply(100000, 'A');
  const std::string y_start = "2048/1688";
  const std::string y_reply = y_start + std::string(100000 - y_start.size() - 6, ' ') + "\"/1000";
  temp_dir dir;
  dir.write("job.nc", "open comm COM1\nG01 X1.0 Y1.0\n");
  sim_process sim;
  ASSERT_TRUE(sim.start({"--scale-reply", "x=" + x_reply, "--scale-reply", "y=" + y_reply},
                        dir.file("ttyMILL1")))
      << sim.failure();
  process_result r =
      run_process({MILLRUN_BINARY, "job.nc"}, dir.path(), {"MILLRUN_COM1=" + dir.file("ttyMILL1")});
  ASSERT_TRUE(sim.stop()) << sim.failure();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(without_estimate(r.err), "");
  EXPECT_NE(r.out.find("\nERR: " + x_reply.substr(0, kept) + "\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nERR: " + y_reply.substr(0, kept) + "\n"), std::string::npos);
  sim_transcript wire;
  ASSERT_TRUE(parse_sim_transcript(sim.transcript(), wire));
  ASSERT_FALSE(wire.commands.empty());
  EXPECT_EQ(wire.commands.back(), "xyz_linear_move_steps xy rt 607,607");
}

TEST(HostileReplies, ReplyOf100000BytesWithoutALineEnd) {
  // The device has sent 100,000 bytes and no line end when it goes away:
  // no reply, reported as such; nothing is traced.
  message_recorder messages;
  fake_device dev([](const std::string&) { return std::string(100000, 'A'); });
  testing::internal::CaptureStdout();
  const bool ok = send_and_validate("z_home u", match_pattern{"\"/1000", false, true}, &dev);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, "");
  EXPECT_EQ(messages.captions(), std::vector<std::string>{"CNC Machine Response: No Response!"});
  EXPECT_EQ(dev.pending(), 0u);
}

}  // namespace
