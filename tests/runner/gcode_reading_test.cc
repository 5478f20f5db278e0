// How a dry run reads G-code lines: comments anywhere, modes in any
// spelling, words on lines that are otherwise ignored, stops and tool
// changes once the job has moved, motion after the program end, numbers cut
// short. Each row is a job after its "G20" line (which homes the run) and
// what the run must do with it: the commands it logs, and for a refused
// line the message naming it, with nothing logged for it or after it.
#include <gtest/gtest.h>

#include <string>

#include "runner/run_program.h"
#include "support/message_recorder.h"
#include "support/run_fixture.h"

namespace {

constexpr const char* home_lines = "x_home l\ny_home b\nz_home u\n";

class GcodeReading : public run_fixture {
 protected:
  int run(const std::string& job, int resume_line = 0) {
    dir_.write("job.nc", "G20\n" + job);
    run_options options;
    options.script = "job.nc";
    options.trace = false;
    options.dwells_wait = false;
    options.start_at.line = resume_line;
    return run_program(options);
  }
};

TEST_F(GcodeReading, EachFormMovesIsIgnoredOrIsRefusedAtItsLine) {
  struct Case {
    const char* job;      // after "G20" at line 1
    const char* log;      // after the home lines
    const char* refused;  // the caption, or null when the job runs to its end
    const char* advice;   // a piece of the message's text
  };
  const char* unsupported_3 = "Unsupported GCode @ job.nc:3";
  const Case cases[] = {
      // Comments: only text inside parentheses and after ";".
      {"G01 X1 (a) Y2 (b)\n", "xyz_linear_move_steps xy rt 607,1213\n", nullptr, ""},
      {"G01 X1 (a) (b)\n", "x_move_steps r 607\n", nullptr, ""},
      {"(feed) G01 X1(to one)Y2 ; Z5\n", "xyz_linear_move_steps xy rt 607,1213\n", nullptr, ""},
      {"G90 ; absolute\n(tool (3 mm) end mill)\n", "", nullptr, ""},
      {"G90 (abs) G21 (mm)\n", "", "Unsupported GCode @ job.nc:2", "inches (G20)"},
      {"G01 X1 (no end Y2\n", "", "Unknown GCode @ job.nc:2", "G01 X1"},
      // G21 and G91 in any spelling, on any line.
      {"M3 G21\n", "", "Unsupported GCode @ job.nc:2", "inches (G20)"},
      {"G01 X1\nX1 G21\n", "x_move_steps r 607\n", unsupported_3, "inches (G20)"},
      {"F10 G91\n", "", "Unsupported GCode @ job.nc:2", "absolute coordinates (G90)"},
      {"G0 G 21\n", "", "Unsupported GCode @ job.nc:2", "inches (G20)"},
      {"G0 G90 G091\n", "", "Unsupported GCode @ job.nc:2", "inches (G20)"},
      {"G0 G90 G91.0\n", "", "Unsupported GCode @ job.nc:2", "inches (G20)"},
      {"G91.000\n", "", "Unsupported GCode @ job.nc:2", "inches (G20)"},
      {"G0 G90 g91\n", "", "Unsupported GCode @ job.nc:2", "inches (G20)"},
      {"G0 G90 G91.1\nG0 G17 G210\n", "", nullptr, ""},  // neither is G91 nor G21
      // Axis and G words on lines that are ignored whole.
      {"F10 X1\n", "", "Unsupported GCode @ job.nc:2", "begins with M, T, S or F"},
      {"T1 X2\n", "", "Unsupported GCode @ job.nc:2", "begins with M, T, S or F"},
      {"S1000 Z1\n", "", "Unsupported GCode @ job.nc:2", "begins with M, T, S or F"},
      {"M5 G0 Z2\n", "", "Unsupported GCode @ job.nc:2", "begins with M, T, S or F"},
      {"M3 S1000 G01 X1 Y1\n", "", "Unsupported GCode @ job.nc:2", "begins with M, T, S or F"},
      {"M3 S12000\nF10\nT1 M6\nM5 (off)\n", "", nullptr, ""},
      // Stops and tool changes: fine before the first move, refused after.
      {"T1 M6\nM0\nG01 X1\n", "x_move_steps r 607\n", nullptr, ""},
      {"G01 X1\nM0\nG01 X2\n", "x_move_steps r 607\n", unsupported_3, "millprep --split-tools"},
      {"G01 X1\nM00\n", "x_move_steps r 607\n", unsupported_3, "millprep --split-tools"},
      {"G01 X1\nM1\n", "x_move_steps r 607\n", unsupported_3, "millprep --split-tools"},
      {"G01 X1\nT2 M06\n", "x_move_steps r 607\n", unsupported_3, "millprep --split-tools"},
      {"G01 X1\nM60\n", "x_move_steps r 607\n", unsupported_3, "millprep --split-tools"},
      {"G01 X1 M0\n", "", "Unsupported GCode @ job.nc:2", "millprep --split-tools"},
      {"G01 X1 (M0)\nM600\n", "x_move_steps r 607\n", nullptr, ""},
      {"M98 P100\n", "", "Unsupported GCode @ job.nc:2", "subprograms (M98, M99)"},
      {"G01 X1\nM99\n", "x_move_steps r 607\n", unsupported_3, "subprograms (M98, M99)"},
      // Motion after the program end.
      {"G01 X1\nM30\nG01 X2\n", "x_move_steps r 607\n", "Unsupported GCode @ job.nc:4",
       "after the program end"},
      {"M02\nG0 X1\n", "", unsupported_3, "after the program end"},
      {"M030\nM5\nX1\n", "", "Unsupported GCode @ job.nc:4", "after the program end"},
      {"G01 X1\nM5\nM30\n", "x_move_steps r 607\n", nullptr, ""},
      // Numbers cut short: after the number only the line end or a word.
      {"G01 X1e2\n", "", "Unsupported GCode @ job.nc:2", "exponent form"},
      {"X1E2\n", "", "Unsupported GCode @ job.nc:2", "exponent form"},
      {"G01 X1,5\n", "", "Unsupported GCode @ job.nc:2", "plain number"},
      {"G01 X1 .5\n", "", "Unsupported GCode @ job.nc:2", "plain number"},
      {"G01 X1 5\n", "", "Unsupported GCode @ job.nc:2", "plain number"},
      {"G01 X1..5\n", "", "Unsupported GCode @ job.nc:2", "plain number"},
      {"G01 X1)\n", "", "Unsupported GCode @ job.nc:2", "plain number"},
      // A G word after the operands would be dropped with its meaning.
      {"G01 X1 G02\n", "", "Unsupported GCode @ job.nc:2", "would be lost"},
      {"G01 X1 G4 P2\n", "", "Unsupported GCode @ job.nc:2", "would be lost"},
      {"G01 X1 F10 E2\nG01 X1.5Y2\n", "x_move_steps r 607\nxyz_linear_move_steps xy rt 303,1213\n",
       nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.job);
    message_recorder messages;
    EXPECT_EQ(run(c.job), c.refused ? 1 : 0);
    EXPECT_EQ(log_text(), home_lines + std::string(c.log));
    if (!c.refused) {
      EXPECT_TRUE(messages.all().empty());
      continue;
    }
    ASSERT_EQ(messages.all().size(), 1u);
    EXPECT_EQ(messages.all()[0].caption, c.refused);
    EXPECT_NE(messages.all()[0].text.find(c.advice), std::string::npos) << messages.all()[0].text;
  }
}

TEST_F(GcodeReading, AResumedJobCountsTheMovesItTracksQuietly) {
  // The stop after a tracked move fails on the way to line 4, as in the
  // whole job, before any machine is wanted there.
  message_recorder messages;
  EXPECT_EQ(run("G01 X1\nT2 M6\nG01 X2\n", 4), 1);
  ASSERT_EQ(messages.all().size(), 1u);
  EXPECT_EQ(messages.all()[0].caption, "Unsupported GCode @ job.nc:3");
}

}  // namespace
