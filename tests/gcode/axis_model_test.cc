#include "gcode/axis_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

class AxisModelTest : public testing::Test {
 protected:
  void SetUp() override { reset_axis_model(); }
  void TearDown() override { reset_axis_model(); }

  static axis_state& axis(axis_index a) { return axis_model_state().axes[a]; }

  /// The position homing leaves with the defaults: X 0, Y 0, Z 2.11 inches.
  static void stand_at_home() {
    set_axis_position(axis_z, 2.11, 8440);
    set_axis_position(axis_x, 0.0, 0);
    set_axis_position(axis_y, 0.0, 0);
  }

  static axis_moves moves_for(const char* operands) {
    axis_moves moves{};
    EXPECT_TRUE(compute_axis_moves(operands, moves)) << operands;
    return moves;
  }
};

TEST_F(AxisModelTest, InchesToStepsWithTheDefaultScales) {
  struct Case {
    double inches;
    char axis;
    int32_t steps;
  };
  const Case cases[] = {
      {1.0, 'x', 607},  {-1.0, 'x', -607}, {1.0, 'X', 607},   {1.0, 'y', 607}, {0.5, 'y', 303},
      {2.0, 'x', 1213}, {2.11, 'z', 8440}, {-0.1, 'z', -400}, {0.0, 'x', 0},   {-0.0, 'z', 0},
      {2.0, 'Z', 8000}, {1.5, 'q', 1500},  // any other letter takes thousandths of an inch as steps
  };
  for (const Case& c : cases) {
    int32_t steps = -1;
    EXPECT_TRUE(inches_to_steps(c.inches, c.axis, steps)) << c.inches << c.axis;
    EXPECT_EQ(steps, c.steps) << c.inches << ' ' << c.axis;
  }
}

TEST_F(AxisModelTest, InchesToStepsRoundsHalvesAwayFromZero) {
  // One step per two inches' worth of thousandths: 1 inch is exactly half a step.
  const axis_scale half{1, 2000};
  struct Case {
    double inches;
    int32_t steps;
  };
  const Case cases[] = {{1.0, 1}, {-1.0, -1}, {3.0, 2}, {-3.0, -2}, {0.9, 0}, {-0.9, 0}};
  for (const Case& c : cases) {
    int32_t steps = 99;
    EXPECT_TRUE(inches_to_steps_with(c.inches, half, steps)) << c.inches;
    EXPECT_EQ(steps, c.steps) << c.inches;
  }
}

TEST_F(AxisModelTest, InchesToStepsRefusesCountsBeyond32Bits) {
  // With {1, 1000} a step is an inch, so the limits are exact.
  const axis_scale unit{1, 1000};
  int32_t steps = 0;
  EXPECT_TRUE(inches_to_steps_with(2147483647.0, unit, steps));
  EXPECT_EQ(steps, std::numeric_limits<int32_t>::max());
  EXPECT_TRUE(inches_to_steps_with(-2147483648.0, unit, steps));
  EXPECT_EQ(steps, std::numeric_limits<int32_t>::min());

  const double refused[] = {2147483648.0, -2147483649.0, 99999999999.0,
                            std::numeric_limits<double>::infinity(), std::nan("")};
  for (double inches : refused) {
    steps = 42;
    EXPECT_FALSE(inches_to_steps_with(inches, unit, steps)) << inches;
    EXPECT_EQ(steps, 42) << "untouched on failure";
  }
  steps = 42;
  EXPECT_FALSE(inches_to_steps(99999999999.0, 'x', steps));
  EXPECT_FALSE(inches_to_steps(-99999999999.0, 'z', steps));
  EXPECT_EQ(steps, 42);
}

TEST_F(AxisModelTest, ParseNumberCollectsDigitsSignsAndPoints) {
  struct Case {
    const char* text;
    double value;
    size_t length;
  };
  const Case cases[] = {
      {"1.5Y2", 1.5, 3}, {"-0.25 Z1", -0.25, 5}, {"2", 2.0, 1}, {"", 0.0, 0},
      {"Y1", 0.0, 0},    {"1-2", 1.0, 3},  // converted up to the second sign
      {"1.2.3", 1.2, 5}, {".5", 0.5, 2},         {"-", 0.0, 1}, {" 1", 0.0, 0},
      {"1e3", 1.0, 1},  // no exponent letter in an operand
  };
  for (const Case& c : cases) {
    size_t length = 99;
    EXPECT_DOUBLE_EQ(parse_number(c.text, length), c.value) << c.text;
    EXPECT_EQ(length, c.length) << c.text;
  }
}

TEST_F(AxisModelTest, ParseNumberReadsNumberTextLongerThan31Characters) {
  const std::string padded = std::string(40, '0') + "1.5";
  size_t length = 0;
  EXPECT_DOUBLE_EQ(parse_number(padded.c_str(), length), 1.5);
  EXPECT_EQ(length, padded.size());

  const std::string huge(400, '9');
  EXPECT_TRUE(std::isinf(parse_number(huge.c_str(), length)));
  EXPECT_EQ(length, huge.size());
}

TEST_F(AxisModelTest, OnlyTheNamedAxisMoves) {
  stand_at_home();
  axis_moves m = moves_for("Y1");
  EXPECT_EQ(m.steps[axis_x], 0);
  EXPECT_EQ(m.direction[axis_x], 0);
  EXPECT_EQ(m.target[axis_x], 0.0);
  EXPECT_EQ(m.steps[axis_y], 607);
  EXPECT_EQ(m.direction[axis_y], 1);
  EXPECT_EQ(m.target[axis_y], 1.0);
  EXPECT_EQ(m.steps[axis_z], 0);
  EXPECT_EQ(m.direction[axis_z], 0);
  EXPECT_EQ(m.target[axis_z], 2.11);
}

TEST_F(AxisModelTest, OperandLayoutsDecideWhichAxesAreSeen) {
  stand_at_home();
  struct Case {
    const char* operands;
    int32_t x, y, z;
  };  // signed: direction x steps
  const Case cases[] = {
      {"X1.5Y2", 910, 1213, 0},  // no blank between operands
      {"X1 Y2 Z3", 607, 1213, 3560},
      {"X1Y2Z2", 607, 1213, -440},
      {"Y1 X2", 0, 607, 0},    // out of order: X is not seen
      {"X1  Y2", 607, 0, 0},   // two blanks: Y is not seen
      {"Z1 X5", 0, 0, -4440},  // text after Z is ignored
      {"X1 ;note", 607, 0, 0},
      {"X-1", -607, 0, 0},
      {"x1", 0, 0, 0},  // axis letters are upper case
      {"", 0, 0, 0},
  };
  for (const Case& c : cases) {
    axis_moves m = moves_for(c.operands);
    EXPECT_EQ(m.direction[axis_x] * m.steps[axis_x], c.x) << c.operands;
    EXPECT_EQ(m.direction[axis_y] * m.steps[axis_y], c.y) << c.operands;
    EXPECT_EQ(m.direction[axis_z] * m.steps[axis_z], c.z) << c.operands;
  }
}

TEST_F(AxisModelTest, ATargetEqualToThePositionDoesNotMove) {
  stand_at_home();
  ASSERT_TRUE(apply_axis_moves("X1.0"));
  axis_moves m = moves_for("X1.0 Z2.11");
  for (int a = 0; a < axis_count; ++a) {
    EXPECT_EQ(m.steps[a], 0) << a;
    EXPECT_EQ(m.direction[a], 0) << a;
  }
}

TEST_F(AxisModelTest, ATargetEqualInInchesButNotInStepsMovesToTheConversion) {
  // As after a scale change that homing had not yet used.
  axis(axis_x).position_in = 1.0;
  axis(axis_x).position_steps = 600;
  axis_moves m = moves_for("X1.0");
  EXPECT_EQ(m.steps[axis_x], -7);
  EXPECT_EQ(m.direction[axis_x], -1);
  apply_moves(m);
  EXPECT_EQ(axis(axis_x).position_steps, 607);
}

TEST_F(AxisModelTest, ATinyMoveRoundingToNoStepStillMovesTheInches) {
  stand_at_home();
  ASSERT_TRUE(apply_axis_moves("X1.0"));
  axis_moves m = moves_for("X1.0001");
  EXPECT_EQ(m.steps[axis_x], 0);
  EXPECT_EQ(m.direction[axis_x], 0);
  ASSERT_TRUE(apply_axis_moves("X1.0001"));
  EXPECT_DOUBLE_EQ(axis(axis_x).position_in, 1.0001);
  EXPECT_EQ(axis(axis_x).position_steps, 607);
}

TEST_F(AxisModelTest, ApplyWidensTheEnvelopeAndKeepsDirections) {
  stand_at_home();
  ASSERT_TRUE(apply_axis_moves("X1 Z2"));
  ASSERT_TRUE(apply_axis_moves("X-1"));
  ASSERT_TRUE(apply_axis_moves("X0.5"));
  const axis_state& x = axis(axis_x);
  EXPECT_EQ(x.position_steps, 303);
  EXPECT_EQ(x.envelope_min, -607);
  EXPECT_EQ(x.envelope_max, 607);
  EXPECT_TRUE(x.last_dir_positive);
  const axis_state& z = axis(axis_z);
  EXPECT_EQ(z.position_steps, 8000);
  EXPECT_EQ(z.envelope_min, 8000);
  EXPECT_EQ(z.envelope_max, 8440);
  EXPECT_FALSE(z.last_dir_positive);
  // A move of no steps leaves the direction flag alone.
  axis(axis_y).last_dir_positive = true;
  ASSERT_TRUE(apply_axis_moves("X0.5 Y0"));
  EXPECT_TRUE(axis(axis_y).last_dir_positive);
}

TEST_F(AxisModelTest, TargetsBeyondTheStepArithmeticFailAndChangeNothing) {
  stand_at_home();
  ASSERT_TRUE(apply_axis_moves("X1"));
  const axis_model before = axis_model_state();
  axis_moves m{};
  for (const char* operands : {"X99999999999", "Y-99999999999", "X1 Y2 Z99999999999",
                               "X"
                               "99999999999999999999999999999999999999999"}) {
    EXPECT_FALSE(compute_axis_moves(operands, m)) << operands;
    EXPECT_FALSE(apply_axis_moves(operands)) << operands;
    for (int a = 0; a < axis_count; ++a) {
      EXPECT_EQ(axis_model_state().axes[a].position_in, before.axes[a].position_in) << operands;
      EXPECT_EQ(axis_model_state().axes[a].position_steps, before.axes[a].position_steps);
      EXPECT_EQ(axis_model_state().axes[a].envelope_max, before.axes[a].envelope_max);
    }
  }
}

TEST_F(AxisModelTest, AStepDifferenceBeyond32BitsFails) {
  // Each end fits a step count; the move from one to the other does not.
  ASSERT_TRUE(apply_axis_moves("X3500000"));
  axis_moves m{};
  EXPECT_FALSE(compute_axis_moves("X-3500000", m));
  EXPECT_FALSE(apply_axis_moves("X-3500000"));
  EXPECT_EQ(axis(axis_x).position_in, 3500000.0);
  EXPECT_TRUE(apply_axis_moves("X0"));
  EXPECT_TRUE(apply_axis_moves("X-3500000"));
}

TEST_F(AxisModelTest, TrackingReappliesMotionLinesOnly) {
  stand_at_home();
  char motion[] = "N5 G01 X1 Y0.5 (to the corner)";
  track_gcode_line(motion);
  EXPECT_EQ(axis(axis_x).position_steps, 607);
  EXPECT_EQ(axis(axis_y).position_steps, 303);
  const axis_model after_first = axis_model_state();

  char again[] = "G01 X1 Y0.5";
  track_gcode_line(again);
  EXPECT_EQ(axis(axis_x).position_steps, after_first.axes[axis_x].position_steps);
  EXPECT_EQ(axis(axis_x).envelope_max, after_first.axes[axis_x].envelope_max);

  for (const char* line : {"M3", "G02 X5 Y5", "; G01 X5", "G04 P100000", "G90", "X0Y0"}) {
    std::string buffer = line;
    track_gcode_line(buffer.data());
    EXPECT_EQ(axis(axis_x).position_steps, 607) << line;
  }
}

}  // namespace
