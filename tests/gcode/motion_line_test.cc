#include "gcode/motion_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/decimal.h"

namespace {

// One reading of a line: what it strips, what kind of line it finds, and
// the targets of a motion line, which composing and tracking then use.
TEST(ReadGcodeLine, FillsTheRecordInOnePass) {
  struct Case {
    const char* line;
    const char* text;  // after the N-word and the comments
    line_kind kind;
    unsigned dwell_ms;
    const char* operands;  // null: none
    operand_reading reading;
    bool named[3];
    double target[3];
    bool motion_word, rapid, axis_word, mode_change, program_end;
  };
  using k = line_kind;
  using r = operand_reading;
  // clang-format off
  const Case cases[] = {
      {"N10 G01 X1.5 Y2 (cut)", "G01 X1.5 Y2", k::motion, 0, "X1.5 Y2", r::complete,
       {true, true, false}, {1.5, 2, 0}, true, false, true, false, false},
      {"G00 Z2.11", "G00 Z2.11", k::motion, 0, "Z2.11", r::complete,
       {false, false, true}, {0, 0, 2.11}, true, true, true, false, false},
      {"G0 X-0.25", "G0 X-0.25", k::motion, 0, "X-0.25", r::complete,
       {true, false, false}, {-0.25, 0, 0}, true, true, true, false, false},
      {"Y0.0200", "Y0.0200", k::motion, 0, "Y0.0200", r::complete,
       {false, true, false}, {0, 0.02, 0}, false, false, true, false, false},
      {"G01 X1e2", "G01 X1e2", k::motion, 0, "X1e2", r::exponent,
       {true, false, false}, {1, 0, 0}, true, false, true, false, false},
      {"G01 X1 G02", "G01 X1 G02", k::motion, 0, "X1 G02", r::lost,
       {true, false, false}, {1, 0, 0}, true, false, true, false, false},
      {"G04 P500 ; wait", "G04 P500", k::dwell, 500, nullptr, r::complete,
       {false, false, false}, {0, 0, 0}, false, false, false, false, false},
      {"G90", "G90", k::ignored, 0, nullptr, r::complete,
       {false, false, false}, {0, 0, 0}, false, false, false, false, false},
      {"M30", "M30", k::ignored, 0, nullptr, r::complete,
       {false, false, false}, {0, 0, 0}, false, false, false, false, true},
      {"G(mm)21", "G21", k::other, 0, nullptr, r::complete,
       {false, false, false}, {0, 0, 0}, false, false, false, true, false},
      {"G02 X1 Y1", "G02 X1 Y1", k::other, 0, nullptr, r::complete,
       {false, false, false}, {0, 0, 0}, false, false, true, false, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::string buffer = c.line;
    line_reading reading;
    read_gcode_line(buffer.data(), reading);
    SCOPED_TRACE(c.line);
    EXPECT_STREQ(reading.text, c.text);
    EXPECT_EQ(reading.kind, c.kind);
    EXPECT_EQ(reading.dwell_ms, c.dwell_ms);
    EXPECT_EQ(reading.words.axis_word, c.axis_word);
    EXPECT_EQ(reading.words.mode_change, c.mode_change);
    EXPECT_EQ(reading.words.program_end, c.program_end);
    if (!c.operands) {
      EXPECT_EQ(reading.operands, nullptr);
      continue;
    }
    ASSERT_NE(reading.operands, nullptr);
    EXPECT_STREQ(reading.operands, c.operands);
    EXPECT_EQ(reading.reading, c.reading);
    EXPECT_EQ(reading.motion_word, c.motion_word);
    EXPECT_EQ(reading.rapid, c.rapid);
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(reading.targets.named[a], c.named[a]) << a;
      if (c.named[a]) {
        EXPECT_EQ(reading.targets.target[a], c.target[a]) << a;
      }
    }
  }
}

// Short plain numbers take a quick path; each must read to the very double
// the general decimal reading gives, sign of zero included.
TEST(ReadGcodeLine, OperandNumbersReadAsTheDecimalReadingDoes) {
  const char* numbers[] = {"0.1",
                           "2.11",
                           "-0.0001",
                           "0.30000",
                           ".5",
                           "5.",
                           "-0",
                           "-0.000",
                           "123456789012345",
                           "0.000000000000001",
                           "1234567890123456",
                           "0.30000000000000004",
                           "9007199254740993"};
  for (const char* number : numbers) {
    std::string buffer = std::string("G01 X") + number;
    line_reading reading;
    read_gcode_line(buffer.data(), reading);
    const double expected = read_real(number);
    EXPECT_EQ(reading.targets.target[0], expected) << number;
    EXPECT_EQ(std::signbit(reading.targets.target[0]), std::signbit(expected)) << number;
  }
}

}  // namespace
