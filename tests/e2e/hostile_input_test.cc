// Input that no sane job holds: bytes that are not text, lines and numbers
// and paths far beyond the usual, includes without end, replies without
// end. Each has a clear outcome: the run goes on, or it stops with exit code
// 1 and a message naming file and line (or, for a file that cannot be read,
// as a missing file does, without one). Never a crash, a hang or memory
// without bound; the sanitizer and valgrind runs of this suite check the
// rest.
//
// Expected texts follow from the default scales: X and Y 1024 steps per
// 1.688" (X1.0 is 607 steps, X1.5 910, X2.0 1213), Z home 2.11" = 8440 steps.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
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
const std::string home_lines = "x_home l\ny_home b\nz_home u\n";
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

std::string message(const std::string& caption, const std::string& text) {
  return caption + "\n" + text + "\n";
}

std::string invalid_character(const std::string& where, const std::string& shown,
                              const std::string& byte, int column) {
  std::string text = "Invalid character @ " + where + ":\n    " + shown + "\nByte 0x" + byte +
                     " at column " + std::to_string(column) +
                     " is not text; a script is plain text (ASCII or UTF-8).";
  if (byte == "00") text += " A file saved as UTF-16 holds a zero byte in every other column.";
  return message("Invalid character @ " + where, text);
}

std::string line_too_long(const std::string& where, const std::string& line) {
  return message("Line too long @ " + where,
                 "The line is longer than 2047 characters @ " + where +
                     "; only a comment line may be longer. It begins:\n    " + line);
}

std::string out_of_range(const std::string& where, const std::string& line) {
  return message("Target out of range @ " + where,
                 "Target out of range @ " + where + ":\n    " + line +
                     "\nIts step count does not fit the machine's step arithmetic.");
}

std::string with_zero(const char* text, size_t length) { return std::string(text, length); }

// ---------------------------------------------------------------------------
// Scripts, one table: what the file holds, how the run ends.

struct script_case {
  const char* name;
  std::string script;  // job.nc
  int exit_code;
  std::string err;     // standard error, whole
  std::string log;     // KelCodeOutput.txt, whole
  std::vector<std::pair<std::string, std::string>> files = {};  // other files
};

void PrintTo(const script_case& c, std::ostream* os) { *os << c.name; }

class HostileScripts : public testing::TestWithParam<script_case> {};

TEST_P(HostileScripts, EndAsDecided) {
  const script_case& c = GetParam();
  temp_dir dir;
  dir.write("job.nc", c.script);
  for (const auto& [name, text] : c.files) dir.write(name, text);
  process_result r = run_millrun(dir, {"job.nc"});
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(without_estimate(r.err), c.err);
  EXPECT_EQ(dir.read(log_name), c.log);
  EXPECT_TRUE(dir.exists(report_name));
}

std::string padded(const std::string& number, size_t width) {
  return std::string(width - number.size(), '0') + number;
}

const std::string move_1 = "x_move_steps r 607\n" + home_lines;  // G01 X1.0 first

INSTANTIATE_TEST_SUITE_P(
    Table, HostileScripts,
    testing::Values(
        // Bytes that are not text.
        script_case{"zero_byte_inside_an_operand",
                    with_zero("G01 X1.0\nG01 X2\0.5 Y1.0\nG01 X3.0\n", 33), 1,
                    invalid_character("job.nc:2", "G01 X2?.5 Y1.0", "00", 7), move_1},
        script_case{"zero_byte_in_a_comment_line", with_zero("// note\0 more\nG01 X1.0\n", 23),
                    1, invalid_character("job.nc:1", "// note? more", "00", 8), ""},
        script_case{"zero_byte_would_cut_an_include_path",
                    with_zero("include inner.nc\0.bak\n", 22), 1,
                    invalid_character("job.nc:1", "include inner.nc?.bak", "00", 17), "",
                    {{"inner.nc", "G01 X1.0\n"}}},
        script_case{"utf16_file", with_zero("\xFF\xFEG\0" "0\0" "1\0 \0X\0" "1\0\r\0\n\0", 18), 1,
                    invalid_character("job.nc:1", "\xFF\xFEG?0?1? ?X?1?", "00", 4), ""},
        script_case{"escape_sequence", "G01 X1.0\x1b[2J\n", 1,
                    invalid_character("job.nc:1", "G01 X1.0?[2J", "1B", 9), ""},
        script_case{"executable_header", with_zero("\x7f" "ELF\x02\x01\x01\0\0\0\0\n", 12), 1,
                    invalid_character("job.nc:1", "?ELF???????", "7F", 1), ""},
        script_case{"form_feed_line", "G01 X1.0\n\f\nG01 X2.0\n", 1,
                    invalid_character("job.nc:2", "?", "0C", 1), move_1},
        script_case{"utf8_byte_order_mark", "\xEF\xBB\xBFG01 X1.0\n", 0, "", move_1},
        script_case{"utf8_in_comments", "// Fr\xC3\xA4se \xC3\xB8" "6\nG01 X1.0 (Tiefe \xC2\xBD)\n",
                    0, "", move_1},
        // Long lines: a line is one line however long; only a comment line
        // may be longer than 2047 characters.
        script_case{"line_of_100000_letters", std::string(100000, 'A') + "\n", 1,
                    line_too_long("job.nc:1", std::string(2047, 'A')), ""},
        script_case{"move_with_100000_blanks",
                    "G01 X1.0" + std::string(99992, ' ') + "\nG01 X2.0\n", 1,
                    line_too_long("job.nc:1", "G01 X1.0" + std::string(2039, ' ')), ""},
        script_case{"comment_of_100000_characters", "REM " + std::string(99996, 'x') + "\n", 0,
                    "", ""},
        // Long numbers: read whole.
        script_case{"number_of_31_characters", "G20\nG01 X" + padded("1.5", 31) + "\n", 0, "",
                    home_lines + "x_move_steps r 910\n"},
        script_case{"number_of_200_characters", "G20\nG01 X" + padded("1.5", 200) + "\n", 0, "",
                    home_lines + "x_move_steps r 910\n"},
        script_case{"fraction_of_198_digits", "G20\nG01 X1." + std::string(198, '0') + "\n", 0,
                    "", home_lines + "x_move_steps r 607\n"},
        script_case{"integer_of_31_digits", "G20\nG01 X1" + std::string(30, '0') + "\n", 1,
                    out_of_range("job.nc:2", "G01 X1" + std::string(30, '0')), home_lines},
        script_case{"integer_of_200_digits", "G20\nG01 X" + std::string(200, '9') + "\n", 1,
                    out_of_range("job.nc:2", "G01 X" + std::string(200, '9')), home_lines},
        script_case{"beyond_a_double", "G20\nG01 Y-" + std::string(400, '9') + "\n", 1,
                    out_of_range("job.nc:2", "G01 Y-" + std::string(400, '9')), home_lines},
        script_case{"depth_of_200_digits",
                    "set_work_surface_depth_below_top_of_z " + std::string(200, '9') + "\n", 1,
                    message("Depth out of range @ job.nc:1",
                            "Work-surface depth out of range @ job.nc:1:\n    "
                            "set_work_surface_depth_below_top_of_z " +
                                std::string(200, '9') +
                                "\nIts step count does not fit the machine's step arithmetic."),
                    ""},
        script_case{"pauses_of_200_digits",
                    "set_chg_dirs_sleep_ms " + std::string(200, '9') + "\nG01 X1.0\n", 0, "",
                    move_1},
        script_case{"line_number_of_200_digits", "N" + std::string(200, '9') + " G01 X1.0\n", 0,
                    "", move_1},
        // Paths and includes.
        script_case{"include_path_of_5000_characters",
                    "G01 X1.0\ninclude " + std::string(4992, 'a') + "\nG01 X2.0\n", 1,
                    line_too_long("job.nc:2", "include " + std::string(2039, 'a')), move_1},
        script_case{"include_of_a_folder", "G01 X1.0\ninclude .\nG01 X2.0\n", 1, "", move_1},
        script_case{"include_of_a_file_that_fails_to_read",
                    "G01 X1.0\ninclude /proc/self/mem\nG01 X2.0\n", 1, "", move_1},
        script_case{"self_include", "include job.nc\n", 1,
                    message("Include too deep @ job.nc:1",
                            "Includes are nested more than 32 deep @ job.nc:1 (does a file "
                            "include itself?):\n    include job.nc"),
                    ""},
        // The link's name.
        script_case{"file_link_name_of_1000_characters",
                    "open comm " + std::string(1000, 'n') + "\nG01 X1.0\n", 1,
                    message("Failed to Open COMM Port",
                            "An error occurred while trying to open File \"" +
                                std::string(1000, 'n') + "\""),
                    ""},
        script_case{"serial_port_name_of_1000_characters",
                    "open comm COM" + std::string(997, '9') + "\nG01 X1.0\n", 1,
                    message("Failed to Open COMM Port",
                            "An error occurred while trying to open Serial Port \"COM" +
                                std::string(997, '9') + "\""),
                    ""}),
    [](const testing::TestParamInfo<script_case>& info) { return std::string(info.param.name); });

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

TEST(HostileFiles, ChainOfAHundredIncludesStopsAtTheLimitOnce) {
  temp_dir dir;
  for (int i = 0; i < 100; ++i)
    dir.write("n" + std::to_string(i) + ".nc", "include n" + std::to_string(i + 1) + ".nc\n");
  dir.write("n100.nc", "G01 X1.0\n");
  process_result r = run_millrun(dir, {"n0.nc"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, message("Include too deep @ n32.nc:1",
                           "Includes are nested more than 32 deep @ n32.nc:1 (does a file "
                           "include itself?):\n    include n33.nc"));
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
  process_result r = run_process({MILLRUN_BINARY, "job.nc"}, dir.path(),
                                 {"MILLRUN_COM1=" + dir.file("ttyMILL1")});
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
