#include "gcode/command_composer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "gcode/axis_model.h"
#include "supervision/homing.h"
#include "support/process.h"

namespace {

class CommandComposerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    reset_command_composer();
    reset_axis_model();
    reset_homing();
    stand_at_home();
  }
  void TearDown() override {
    reset_command_composer();
    reset_axis_model();
    reset_homing();
    ASSERT_EQ(chdir(old_cwd_), 0);
  }

  /// The position homing leaves with the defaults: X 0, Y 0, Z 2.11 inches.
  static void stand_at_home() {
    set_axis_position(axis_z, 2.11, 8440);
    set_axis_position(axis_x, 0.0, 0);
    set_axis_position(axis_y, 0.0, 0);
  }

  /// Translates a copy of `line`; the command text, or "" when there is none.
  static translation_result translate(const std::string& line, std::string& command) {
    std::string buffer = line;
    const char* text = nullptr;
    translation_result result = translate_gcode_line(buffer.data(), text);
    command = text ? text : "";
    return result;
  }

  std::string log() const { return dir_.read(translation_log_name); }

  temp_dir dir_;
  char old_cwd_[4096] = {};
};

using tr = translation_result;

TEST_F(CommandComposerTest, TranslatesLinesFromAKnownPosition) {
  struct Case {
    const char* before;  // operands applied first, from home
    const char* line;
    tr result;
    const char* command;
  };
  const Case cases[] = {
      {"", "G01 X1.0", tr::command, "x_move_steps r 607"},
      {"", "G01 X1.0 Y0.5", tr::command, "xyz_linear_move_steps xy rt 607,303"},
      {"", "G01 Z2.0", tr::command, "z_move_steps d 440"},
      {"Z2.0", "G00 Z2.11", tr::command, "z_home u"},
      {"X1.0", "G00 X0", tr::command, "x_home l"},
      {"X1.0", "G01 X1.0", tr::no_op, "NO_OP()"},
      {"Y1.0", "G00 Y0", tr::command, "y_home b"},
      {"", "G01 Y-2", tr::command, "y_move_steps b 1213"},
      {"", "G1 X-1", tr::command, "x_move_steps l 607"},
      {"", "G0 Z3", tr::command, "z_move_steps u 3560"},
      // Two or three axes always take the linear form, even towards home.
      {"X1.0", "G01 X0 Y1", tr::command, "xyz_linear_move_steps xy lt 607,607"},
      {"X1.0 Y1.0 Z2", "G00 X0 Y0 Z2.11", tr::command, "xyz_linear_move_steps xyz lbu 607,607,440"},
      {"", "G01 X1 Y1 Z1", tr::command, "xyz_linear_move_steps xyz rtd 607,607,4440"},
      {"", "X0.5 Z3", tr::command, "xyz_linear_move_steps xz ru 303,3560"},
      {"", "G01 Y2 Z2.11", tr::command, "y_move_steps t 1213"},
      {"", "N10 G01 X1 (to one inch)", tr::command, "x_move_steps r 607"},
      {"", "G01 X1 ;note", tr::command, "x_move_steps r 607"},
      // No motion.
      {"", "G00 X0 Y0 Z2.11", tr::no_op, "NO_OP()"},
      {"X1.0", "G01 X1.0001", tr::no_op, "NO_OP()"},
      {"", "G04 P0", tr::no_op, "NO_OP()"},
      {"", "M3", tr::no_op, "NO_OP()"},
      {"", "G20", tr::no_op, "NO_OP()"},
      {"", "(setup)", tr::no_op, "NO_OP()"},
      {"", "; G01 X1", tr::no_op, "NO_OP()"},
      // Failures.
      {"", "G02 X1 Y1", tr::unknown_gcode, ""},
      {"", "G90 G54", tr::unknown_gcode, ""},
      {"", "g01 x1", tr::unknown_gcode, ""},
      {"", "G21", tr::unsupported_mode, ""},
      {"", "N20 G91 (relative)", tr::unsupported_mode, ""},
      {"", "G01 X99999999999", tr::out_of_range, ""},
      // Millimetres or relative moves among other words.
      {"", "G21 G90 G64 G40", tr::unsupported_mode, ""},
      {"", "G90 G91", tr::unsupported_mode, ""},
      {"", "G21 ; millimetres", tr::unsupported_mode, ""},
      // An axis word the reading would drop or misread stops the line.
      {"", "G01 X1 F10 Y3", tr::lost_operands, ""},
      {"", "G01 Z1.5 X2", tr::lost_operands, ""},
      {"", "G01 Y1 X2", tr::lost_operands, ""},
      {"", "G01 X1 Y2 X4", tr::lost_operands, ""},
      {"", "G01  X3", tr::lost_operands, ""},
      {"", "G01 x3", tr::lost_operands, ""},
      {"", "G01 X1 y 2", tr::lost_operands, ""},
      {"", "G00 Z   0.200", tr::lost_operands, ""},
      {"", "G01 X+1.5 Y+2.0", tr::lost_operands, ""},
      {"", "G01 X[1.0*2]", tr::lost_operands, ""},
      {"", "G01 X#1", tr::lost_operands, ""},
      {"", "G01 X1.5.2", tr::lost_operands, ""},
      {"", "G01 X1 Y", tr::lost_operands, ""},
      {"", "G0 G90 X2 Y2", tr::lost_operands, ""},
      {"", "G0 G54 Z1", tr::lost_operands, ""},
      {"X1 Y1", "X0Y0", tr::lost_operands, ""},
      // Lines that lose nothing run as before.
      {"", "G01 X1 F10", tr::command, "x_move_steps r 607"},
      {"", "G01 X1 Y2 Z3 ; note", tr::command, "xyz_linear_move_steps xyz rtu 607,1213,3560"},
      {"", "G01 X1 (feed)", tr::command, "x_move_steps r 607"},
      {"", "G01 X1 ; to X2", tr::command, "x_move_steps r 607"},
      {"", "G01 X-.5", tr::command, "x_move_steps l 303"},
      {"", "X0Y0", tr::no_op, "NO_OP()"},
      // Comments anywhere on the line: the words outside them are read.
      {"", "G90 ;absolute", tr::no_op, "NO_OP()"},
      {"", "(feed) G01 X1", tr::command, "x_move_steps r 607"},
      {"", "G01 X3 (a) Y2", tr::command, "xyz_linear_move_steps xy rt 1820,1213"},
  };
  for (const Case& c : cases) {
    reset_axis_model();
    stand_at_home();
    ASSERT_TRUE(apply_axis_moves(c.before)) << c.before;
    std::string command;
    EXPECT_EQ(translate(c.line, command), c.result) << c.line;
    if (c.result == tr::command || c.result == tr::no_op) {
      EXPECT_EQ(command, c.command) << c.line;
    }
  }
}

TEST_F(CommandComposerTest, ComposingAdvancesThePositionEvenWithoutMotion) {
  ASSERT_TRUE(apply_axis_moves("X1.0"));
  const char* command = nullptr;
  EXPECT_EQ(compose_machine_command("X1.0001", command), tr::no_op);
  EXPECT_STREQ(command, no_op_command);
  EXPECT_DOUBLE_EQ(axis_model_state().axes[axis_x].position_in, 1.0001);

  EXPECT_EQ(compose_machine_command("X2 Y1", command), tr::command);
  EXPECT_STREQ(command, "xyz_linear_move_steps xy rt 606,607");
  EXPECT_EQ(axis_model_state().axes[axis_x].position_steps, 1213);
  EXPECT_EQ(axis_model_state().axes[axis_y].position_steps, 607);
}

TEST_F(CommandComposerTest, DepthKeywordMovesTheZHomeCommand) {
  set_work_surface_depth(1.5);
  std::string command;
  EXPECT_EQ(translate("G00 Z1.5", command), tr::command);
  EXPECT_EQ(command, "z_home u");
  EXPECT_EQ(translate("G00 Z2.11", command), tr::command);
  EXPECT_EQ(command, "z_move_steps u 2440");
}

TEST_F(CommandComposerTest, LogHoldsComposedCommandsInOrder) {
  open_translation_log();
  ASSERT_TRUE(translation_log_open());

  std::string command;
  for (const char* line : {"G01 X1.0", "G01 X1.0", "M3", "G04 P0", "G01 X1.0 Y0.5",
                           "G01 X99999999999", "G02 X5", "G21", "G00 Z2.11", "G00 Z2.0"})
    translate(line, command);
  EXPECT_EQ(log(),
            "x_move_steps r 607\n"
            "y_move_steps t 303\n"
            "z_move_steps d 440\n");

  const char* const home_lines[] = {"x_home l", "y_home b", "z_home u"};
  log_commands(home_lines, 3);
  EXPECT_EQ(log(),
            "x_move_steps r 607\n"
            "y_move_steps t 303\n"
            "z_move_steps d 440\n"
            "x_home l\ny_home b\nz_home u\n");

  close_translation_log();
  EXPECT_FALSE(translation_log_open());
  log_command("after close");
  EXPECT_EQ(log().find("after close"), std::string::npos);

  // A new run empties the log.
  open_translation_log();
  EXPECT_EQ(log(), "");
}

TEST_F(CommandComposerTest, AnOutOfRangeTargetLogsAndMovesNothing) {
  open_translation_log();
  ASSERT_TRUE(apply_axis_moves("X1.0"));
  std::string command;
  EXPECT_EQ(translate("G01 X2 Y99999999999", command), tr::out_of_range);
  EXPECT_EQ(axis_model_state().axes[axis_x].position_in, 1.0);
  EXPECT_EQ(axis_model_state().axes[axis_x].position_steps, 607);
  EXPECT_EQ(log(), "");
}

TEST_F(CommandComposerTest, ALogThatCannotBeCreatedIsNoError) {
  // A directory in the log's place: the file cannot be created.
  ASSERT_EQ(mkdir(translation_log_name, 0700), 0);
  open_translation_log();
  EXPECT_FALSE(translation_log_open());
  std::string command;
  EXPECT_EQ(translate("G01 X1.0", command), tr::command);
  EXPECT_EQ(command, "x_move_steps r 607");
}

}  // namespace
