#include "gcode/line_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/platform.h"

namespace {

// The filter works in place on a writable line; each case gets its own copy.
std::string after_line_number(const std::string& line) {
  std::string buffer = line;
  return strip_line_number(buffer.data());
}

std::string after_comment(const std::string& line) {
  std::string buffer = line;
  strip_comment(buffer.data());
  return buffer.c_str();
}

TEST(StripLineNumber, DropsALeadingNWordAndOneBlank) {
  struct Case {
    const char* line;
    const char* rest;
  };
  const Case cases[] = {
      {"N10 G01 X1", "G01 X1"},     {"N10G01 X1", "G01 X1"},  // no blank after the number
      {"N10  G01 X1", " G01 X1"},                             // exactly one blank is skipped
      {"N G01 X1", "G01 X1"},  // no digits: the blank after N still goes
      {"N-5 G00 Z2", "G00 Z2"},     {"N10", ""},
      {"n10 G01 X1", "n10 G01 X1"},  // lower case n is no N-word
      {"G01 X1 N10", "G01 X1 N10"}, {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(after_line_number(c.line), c.rest) << c.line;
}

TEST(StripComment, RemovesParenthesesAndSemicolonCommentsAnywhere) {
  struct Case {
    const char* line;
    const char* rest;
  };
  const Case cases[] = {
      {";", ""},
      {"; whole line", ""},
      {"(only a comment)", ""},
      {"G01 X1 (cut here)", "G01 X1"},
      {"G01 X1 \t(cut) (and this)", "G01 X1"},
      {"G01 X1)", "G01 X1)"},         // ")" without "(" stays
      {"G01 (inside) X1", "G01 X1"},  // a comment and its blanks: one blank
      {"X1(a)Y2", "X1Y2"},            // no blank: none
      {"(lead)  G01 X1", "G01 X1"},
      {"G01 X1 ;trailing (Y2)", "G01 X1"},
      {"G90 ;x", "G90"},
      {"(T1 (3 mm) end mill) G0", "G0"},  // nested parentheses
      {"G01 X1 (open Y2", "G01 X1"},      // told as open_comment
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(after_comment(c.line), c.rest) << c.line;
}

TEST(IsIgnoredGcode, ClassifiesWholeLinesAndPrefixes) {
  struct Case {
    const char* line;
    bool ignored;
  };
  const Case cases[] = {
      {"", true},
      {"M3", true},
      {"T1 M6", true},
      {"S1000", true},
      {"F20", true},
      {"X0Y0", true},
      {"G0 G90 G54", true},
      {"G04 P500", true},
      {"G20", true},
      {"G40", true},
      {"G43", true},
      {"G49", true},
      {"G53", true},
      {"G54", true},
      {"G61", true},
      {"G80", true},
      {"G90", true},
      // Not in the list, or not the whole line.
      {"G90 G54", false},
      {"G90 ;x", false},
      {"X0Y0 ", false},
      {"X0 Y0", false},
      {"G02 X1 Y1", false},
      {"G01 X1", false},
      {"m3", false},
      {"g90", false},
      {"G4 P500", false},
      {"G900", false},
      {"G0", false},
      // Millimetres and relative coordinates are not silently dropped.
      {"G21", false},
      {"G91", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_ignored_gcode(c.line, false), c.ignored) << c.line;
}

TEST(IsUnsupportedModeGcode, FlagsMillimetresAndRelativeModeInAnySpelling) {
  for (const char* line :
       {"G21", "G91", "G0 G28 G91 Z0", "G0 G21", "G0 G17 G21 G90", "G0 G91\tZ0", "g21",
        "G0 G28 XG91", "M3 G21", "X1 G21", "G 91", "G091", "G91.000", "G0G91", "(a) G21 (b)"})
    EXPECT_TRUE(is_unsupported_mode_gcode(line)) << line;
  for (const char* line : {"G20", "G90", "G210", "G91.1", "", "G01 X1", "G0 G17 G40 G49 G80 G90",
                           "G0 G910", "(G21)", "G90 ; G91", "G21.5", "M21", "X21"})
    EXPECT_FALSE(is_unsupported_mode_gcode(line)) << line;
}

TEST(MotionOperands, FindsTheOperandsOfLinearMoves) {
  struct Case {
    const char* line;
    const char* operands;
  };  // null: no operands
  const Case cases[] = {
      {"G00 X1", "X1"},   {"G01 X1 Y2", "X1 Y2"}, {"G0 Z2", "Z2"},     {"G1 Y-1", "Y-1"},
      {"X1.5", "X1.5"},   {"Y2", "Y2"},           {"Z0.1", "Z0.1"},    {"G01  X1", " X1"},
      {"G01 ", ""},       {"G02 X1 Y1", nullptr}, {"G03 X1", nullptr}, {"g01 x1", nullptr},
      {"G01X1", nullptr}, {"x1", nullptr},        {"", nullptr},       {"G10 X1", nullptr},
  };
  for (const Case& c : cases) {
    const char* operands = motion_operands(c.line);
    if (!c.operands) {
      EXPECT_EQ(operands, nullptr) << c.line;
    } else {
      ASSERT_NE(operands, nullptr) << c.line;
      EXPECT_STREQ(operands, c.operands) << c.line;
    }
  }
}

TEST(DwellMilliseconds, TruncatesAndBoundsTheWait) {
  struct Case {
    double value;
    unsigned ms;
  };
  const Case cases[] = {
      {500.0, 500u},
      {500.9, 500u},  // toward zero
      {0.9, 0u},
      {0.0, 0u},
      {-0.0, 0u},
      {-1.0, 0u},  // a negative dwell waits nothing
      {-4294967296.0, 0u},
      {4294967294.9, 4294967294u},
      {4294967295.0, 4294967295u},
      {4294967296.0, 4294967295u},  // beyond 32 bits: the longest wait, not a wrap
      {1e300, 4294967295u},
      {std::numeric_limits<double>::infinity(), 4294967295u},
      {-std::numeric_limits<double>::infinity(), 0u},
      {std::nan(""), 0u},
  };
  for (const Case& c : cases) EXPECT_EQ(dwell_milliseconds(c.value), c.ms) << c.value;
}

TEST(IsIgnoredGcode, DwellWaitsOnlyWhenAsked) {
  uint64_t start = platform_now_ms();
  EXPECT_TRUE(is_ignored_gcode("G04 P30", true));
  EXPECT_GE(platform_now_ms() - start, 30u);

  // Without the dwell flag a long dwell returns at once; a negative one
  // never waits.
  start = platform_now_ms();
  EXPECT_TRUE(is_ignored_gcode("G04 P5000", false));
  EXPECT_TRUE(is_ignored_gcode("G04 P-5000", true));
  EXPECT_TRUE(is_ignored_gcode("G04 Pjunk", true));
  EXPECT_LT(platform_now_ms() - start, 2500u);
}

}  // namespace
