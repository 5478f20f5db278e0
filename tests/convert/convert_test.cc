// The converter in-process: what it writes for each kind of input line
// (expected lines worked out by hand), and each refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "convert/converter.h"

namespace {

struct conversion {
  bool ok = false;
  std::string body;  // the output without its header lines
  std::string failure;
};

conversion convert_text(const std::string& input, prep_options options = {}) {
  conversion result;
  std::FILE* sink = std::tmpfile();
  convert_state state;
  state.options = &options;
  state.quiet = true;
  state.sink = sink;
  state.input_name = "job.nc";
  std::istringstream lines(input);
  std::string line;
  long number = 0;
  result.ok = true;
  while (result.ok && std::getline(lines, line))
    result.ok = convert_line(state, line.data(), line.size(), ++number);
  if (result.ok) result.ok = finish_conversion(state);
  result.failure = state.failure;
  std::fflush(sink);
  std::rewind(sink);
  char buffer[512];
  bool header = true;  // up to G90
  while (std::fgets(buffer, sizeof buffer, sink)) {
    std::string text = buffer;
    if (!header) result.body += text;
    header = header && text != "G90\n";
  }
  std::fclose(sink);
  return result;
}

TEST(Convert, WritesTheDialect) {
  struct Case {
    const char* input;
    const char* output;
  };
  const Case cases[] = {
      // letter case, blanks inside and between words
      {"G20\ng1x1.5 y 2 z - 0.25", "G01 X1.5000 Y2.0000 Z-0.2500 (line 2)\n"},
      {"G21\nN10 G1 X25.4 Y-12.7", "G01 X1.0000 Y-0.5000 (line 2)\n"},
      // collinear feed moves merge; rapids never do
      {"G20 G91\nG1 X1\nX1", "G01 X2.0000 (lines 2-3)\n"},
      {"G20\nG0 X1\nX2", "G00 X1.0000 (line 2)\nG00 X2.0000 (line 3)\n"},
      {"G20\nG1 X1\nY0.01", "G01 X1.0000 (line 2)\nG01 Y0.0100 (line 3)\n"},
      {"G20\nG0 X-0.00004 Y1", "G00 Y1.0000 (line 2)\n"},  // never -0.0000
      {"G20\nG4 P1.5", "G04 P1500\n"},
      {"G20\nG0 X1 (to the start) ; fast", "; to the start fast\nG00 X1.0000 (line 2)\n"},
      {"G20\nT2 M6\nM3 S1000 F20", "M6 T2\nM3 S1000 F20\n"},
      // home moves: Z first, then X and Y; with an axis word, through it
      {"G20\nG0 X1 Y1 Z1\nG28",
       "G00 X1.0000 Y1.0000 Z1.0000 (line 2)\nG00 Z2.1100 (line 3)\nG00 X0.0000 Y0.0000 (line "
       "3)\n"},
      {"G20\nG0 X1 Y1 Z1\nG28 Z1.5",
       "G00 X1.0000 Y1.0000 Z1.0000 (line 2)\nG00 Z1.5000 (line 3)\nG00 Z2.1100 (line 3)\n"},
      {"set_work_surface_depth_below_top_of_z 1.5\nG20\nG0 Z0.5\nG53 G0 Z0",
       "G00 Z0.5000 (line 3)\nG00 Z1.5000 (line 4)\n"},
      // drilling: G99 returns to R, G98 (the default) to the start level
      {"G20\nG0 Z1\nG99 G81 X1 Y1 Z-0.1 R0.1",
       "G00 Z1.0000 (line 2)\nG00 X1.0000 Y1.0000 (line 3)\nG00 Z0.1000 (line 3)\nG01 Z-0.1000 "
       "(line 3)\n"
       "G00 Z0.1000 (line 3)\n"},
      {"G20\nG1 Z1\nG81 X1 Z0 R0.5\nG80\nX2",
       "G01 Z1.0000 (line 2)\nG00 X1.0000 (line 3)\nG00 Z0.5000 (line 3)\nG01 Z0.0000 (line 3)\n"
       "G00 Z1.0000 (line 3)\nG01 X2.0000 (line 5)\n"},
      {"G20\nG0 Z1\nG91 G81 X1 R-0.5 Z-0.6",
       "G00 Z1.0000 (line 2)\nG00 X1.0000 (line 3)\nG00 Z0.5000 (line 3)\nG01 Z-0.1000 (line 3)\n"
       "G00 Z1.0000 (line 3)\n"},
      {"G20\nG0 Z0.1\nG73 X0 Y0 Z-0.1 R0.1 Q0.08",
       "G00 Z0.1000 (line 2)\nG01 Z0.0200 (line 3)\nG00 Z0.0300 (line 3)\nG01 Z-0.0600 (line 3)\n"
       "G00 Z-0.0500 (line 3)\nG01 Z-0.1000 (line 3)\nG00 Z0.1000 (line 3)\n"},
      {"G20\nG0 Z0.2\nG83 X0 Y0 Z-0.15 R0.1 Q0.1",
       "G00 Z0.2000 (line 2)\nG00 Z0.1000 (line 3)\nG01 Z0.0000 (line 3)\nG00 Z0.1000 (line 3)\n"
       "G00 Z0.0100 (line 3)\nG01 Z-0.1000 (line 3)\nG00 Z0.1000 (line 3)\nG00 Z-0.0900 (line 3)\n"
       "G01 Z-0.1500 (line 3)\nG00 Z0.2000 (line 3)\n"},
      {"G20\nG0 Z0.2\nG82 X0 Y0 Z0 R0.1 P0.25",
       "G00 Z0.2000 (line 2)\nG00 Z0.1000 (line 3)\nG01 Z0.0000 (line 3)\nG04 P250\nG00 Z0.2000 "
       "(line 3)\n"},
      // a half circle by radius: the end on the far side of the diameter
      {"G20\nG2 X0 Y0.0002 R0.0001", "G01 Y0.0002 (line 2)\n"},
  };
  for (const Case& c : cases) {
    conversion result = convert_text(c.input);
    EXPECT_TRUE(result.ok) << c.input << "\n" << result.failure;
    EXPECT_EQ(result.body, c.output) << c.input;
  }
}

TEST(Convert, RefusesWhatItCannotConvertFaithfully) {
  struct Case {
    const char* input;
    const char* why;
  };
  const Case cases[] = {
      {"G20\nG41 D1 X1", "cutter compensation"},
      {"G20\nG42 X1", "cutter compensation"},
      {"G20\nG1 X1 A90", "axes other than X, Y and Z"},
      {"G20\nG1 X1 W2", "axes other than X, Y and Z"},
      {"G20\nO100 sub", "subroutines and control flow"},
      {"G20\nM98 P100", "subroutine calls"},
      {"G20\n#1=5", "parameters and expressions"},
      {"G20\nG1 X[1+2]", "parameters and expressions"},
      {"G20\nG92 X0 Y0", "G92 offsets"},
      {"G20\nG10 L2 P1 X0", "G10 offsets"},
      {"G20\nG10 P1 X0", "G10 offsets"},
      {"G20\nG55 G0 X1", "work offsets G55-G59"},
      {"G20\nG1 @1 ^45", "polar coordinates"},
      {"G20\nG81 X1 Z-1 R0.1 L3", "the L repeat count"},
      {"G20\nG2 X1 Y0 I0.4 J0", "off its circle"},
      {"G20\nG2 X2 Y0 R0.9", "too small to reach"},
      {"G20\nG2 X0 Y0 R1", "cannot end where it starts"},
      {"G20\nG2 X1 Y1", "needs its centre"},
      {"G1 X1", "does not say whether it is in inches (G20) or millimetres (G21)"},
      {"G20\nX1", "no motion"},
      {"G20\nG1 X1 T1\nT2\nG1 X2", "a second tool (T2) between moves"},
      {"G20\nG1 X1\nM6\nG1 X2", "a tool change (M6)"},
      {"G20\nG1 X1\nM0\nG1 X2", "a program stop (M0)"},
      {"G20\nG1 X1\nM1\nG1 X2", "a program stop (M1)"},
      {"G20\nG83 X1 Z-1 R0.1", "needs a peck depth"},
      {"G20\nG81 X1 Z1 R0.1", "not below its R level"},
      {"G20\nG81 X1 Z-1", "needs its R level"},
      {"G20\nG4 P-1", "dwell P is negative"},
      {"G20\nG0 X1 (open", "not closed"},
      {"G20\nG1 X1e5", "exponent form"},
      {"G20\nG1 X1 E5", "the E word"},
      {"G20\nG1 X1 * 2", "no part of a G-code word"},
      {"G20\nG0 X1000000", "more than 100000 in"},
      {"G20\nG0 X1 X2", "given twice"},
      {"G20\n/G0 X1", "block delete"},
      {"G20\nG38.2 Z-1", "probing"},
      {"G20\nG84 Z-1 R0.1", "canned cycle is not supported"},
      {"G20\nG0 X1\nset_work_surface_depth_below_top_of_z 2", "after the job's first G-code line"},
  };
  for (const Case& c : cases) {
    conversion result = convert_text(c.input);
    EXPECT_FALSE(result.ok) << c.input;
    EXPECT_NE(result.failure.find(c.why), std::string::npos) << c.input << "\n" << result.failure;
  }
  // The message names the file and line and quotes the line.
  EXPECT_EQ(convert_text("G20\n  G41 X1 ").failure.substr(0, 23), "millprep: job.nc:2: G41");
  EXPECT_NE(convert_text("G20\n  G41 X1 ").failure.find("\n    G41 X1\n"), std::string::npos);
  // A tool change at the end of a job, after its last move, is no second part.
  EXPECT_TRUE(convert_text("G20\nG1 X1\nT2 M6\nM30").ok);
}

}  // namespace
