// millrun.exe started with command-line texts as Windows hands them over:
// the whole line, unsplit. Everything after the program's name (quoted or
// not) and the blanks after it is the script path, unchanged.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "process_win32.h"

namespace {

const std::string millrun = program_beside_tests("millrun.exe");

const char log_name[] = "KelCodeOutput.txt";
const char report_name[] = "EnvelopeReport.txt";

// G01 X1.0 from the start: 1.0" at 1024 steps per 1.688" is 607 steps; the
// first motion line homes the run after it is composed.
const std::string one_move_log = "x_move_steps r 607\nx_home l\ny_home b\nz_home u\n";
const std::string untouched_report =
    "X: MIN = 00000000 steps, MAX = 00000000 steps\n"
    "Y: MIN = 00000000 steps, MAX = 00000000 steps\n"
    "Z: MIN = 00000000 steps, MAX = 00000000 steps\n"
    "Feed Rates: X       = 9.89062500\"/minute\n"
    "Feed Rates: Y       = 9.89062500\"/minute\n"
    "Feed Rates: Z       = 1.50000000\"/minute\n"
    "Feed Rates: XYZ_MAX = 14.06765531\"/minute\n"
    "Milling Resumed 0 times\n";

struct line_case {
  const char* name;
  const char* rest;  // the command line after the program's name
  int exit_code;
  bool moved;  // the script ran: the log holds the move
};

class CommandLine : public testing::TestWithParam<line_case> {};

TEST_P(CommandLine, RestOfTheLineIsThePath) {
  const line_case& c = GetParam();
  temp_dir dir;
  dir.write("job.nc", "G01 X1.0\n");
  dir.write("my job.nc", "G01 X1.0\n");
  process_result r = run_command_line(millrun, "millrun.exe" + std::string(c.rest), dir.path());
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  EXPECT_EQ(dir.read(log_name), c.moved ? one_move_log : "");
  if (!c.moved) {
    EXPECT_EQ(dir.read(report_name), untouched_report);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, CommandLine,
    testing::Values(line_case{"plain", " job.nc", 0, true},
                    line_case{"blanks_before_the_path", " \t  job.nc", 0, true},
                    // Blanks belong to the path: no quotes are needed, or wanted.
                    line_case{"blank_in_the_path", " my job.nc", 0, true},
                    line_case{"quoted_path_keeps_its_quotes", " \"job.nc\"", 1, false},
                    line_case{"quoted_path_with_a_blank", " \"my job.nc\"", 1, false},
                    line_case{"no_path", "", 1, false}, line_case{"only_blanks", "   ", 1, false}),
    [](const testing::TestParamInfo<line_case>& info) { return std::string(info.param.name); });

TEST(CommandLine, QuotedProgramNameWithBlanksEndsAtItsQuote) {
  temp_dir dir;
  ASSERT_TRUE(CreateDirectoryA(dir.file("bin dir").c_str(), nullptr));
  const std::string copy = dir.file("bin dir/millrun.exe");
  ASSERT_TRUE(CopyFileA(millrun.c_str(), copy.c_str(), TRUE));
  dir.write("job.nc", "G01 X1.0\n");
  process_result r = run_command_line(copy, "\"" + copy + "\" job.nc", dir.path());
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(dir.read(log_name), one_move_log);
}

TEST(CommandLine, HelpAndVersionWriteNoFiles) {
  struct option_case {
    const char* rest;
    const char* starts;
  };
  for (const option_case& c :
       {option_case{" --help", "Usage: millrun SCRIPT\n"}, option_case{" --version", "millrun "}}) {
    SCOPED_TRACE(c.rest);
    temp_dir dir;
    process_result r = run_command_line(millrun, std::string("millrun") + c.rest, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind(c.starts, 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(dir.exists(log_name));
    EXPECT_FALSE(dir.exists(report_name));
  }
}

TEST(CommandLine, MessagesReachStandardErrorWithCrLf) {
  // run_command_line checks that every line end of what was printed is
  // CR LF and hands the text on with line feeds.
  temp_dir dir;
  dir.write("job.nc", "G02 X1 Y1\n");
  process_result r = run_command_line(millrun, "millrun job.nc", dir.path());
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "Unknown GCode @ job.nc:1\nInvalid GCode @ job.nc:1:\n    G02 X1 Y1\n"
            "convert CAM output first: millprep job.nc -o job_millrun.nc\n");
  EXPECT_EQ(dir.read(report_name), untouched_report);
}

}  // namespace
