#include "supervision/recovery.h"

#include <gtest/gtest.h>

#include <cstring>

#include "gcode/axis_model.h"
#include "link/port_opening.h"
#include "runner/script_interpreter.h"
#include "supervision/homing.h"
#include "support/fake_device.h"
#include "support/message_recorder.h"
#include "support/run_fixture.h"

namespace {

class Recovery : public run_fixture {
 protected:
  /// The machine homed and queried, standing at X 0, Y 0, Z 2.0 inches.
  void stand_at_z2() {
    homing_state().homed = true;
    homing_state().scales_queried = true;
    set_axis_position(axis_x, 0.0, 0);
    set_axis_position(axis_y, 0.0, 0);
    set_axis_position(axis_z, 2.0, 8000);
  }
  bool run_line(const char* text, port_handle& handle) {
    char line[2048];
    std::strncpy(line, text, sizeof line - 1);
    line[sizeof line - 1] = '\0';
    testing::internal::CaptureStdout();
    bool ok = process_script_line("job.nc", 7, line, handle);
    trace_ = testing::internal::GetCapturedStdout();
    return ok;
  }
  std::string trace_;
};

TEST_F(Recovery, FailedLineIsCutAgainFromItsStart) {
  stand_at_z2();
  int linear = 0;
  fake_device dev([&](const std::string& command) {
    if (command.rfind("xyz_linear_move_steps", 0) == 0 && linear++ == 0)
      return std::string("E\r\n");
    return healthy_controller(command);
  });
  port_handle handle = &dev;
  message_recorder messages;
  EXPECT_TRUE(run_line("G01 X1.0 Y0.5", handle));
  // Home, then only Z comes down to where the line started (X and Y are at
  // 0 already), then the line itself again.
  const std::vector<std::string> wire = {"xyz_linear_move_steps xy rt 607,303",
                                         "z_home u",
                                         "x_home l",
                                         "y_home b",
                                         "z_move_steps d 440",
                                         "xyz_linear_move_steps xy rt 607,303"};
  EXPECT_EQ(dev.commands, wire);
  EXPECT_EQ(log_text(),
            "xyz_linear_move_steps xy rt 607,303\nx_home l\ny_home b\nz_home u\n"
            "z_move_steps d 440\nxyz_linear_move_steps xy rt 607,303\n");
  EXPECT_EQ(recovery_state().resume_count, 1);
  EXPECT_TRUE(messages.all().empty());
  const axis_model& m = axis_model_state();
  EXPECT_EQ(m.axes[axis_x].position_steps, 607);
  EXPECT_EQ(m.axes[axis_y].position_steps, 303);
  EXPECT_EQ(m.axes[axis_z].position_steps, 8000);
  EXPECT_EQ(handle, &dev);  // no device was remembered: the same link goes on
}

TEST_F(Recovery, RejectedRepositioningFailsTheLine) {
  stand_at_z2();
  fake_device dev([&](const std::string& command) {
    if (command.rfind("xyz_linear", 0) == 0) return std::string("E\r\n");
    if (command == "z_move_steps d 440") return std::string("E\r\n");
    return healthy_controller(command);
  });
  port_handle handle = &dev;
  message_recorder messages;
  EXPECT_FALSE(run_line("G01 X-1.0 Y0.5", handle));
  ASSERT_EQ(messages.all().size(), 1u);
  EXPECT_EQ(messages.all()[0].caption, "CNC Machine Resume-after-error: Error Resuming Operation!");
  EXPECT_EQ(messages.all()[0].text,
            "While trying to resume operations after failing to execute command \"G01 X-1.0 "
            "Y0.5\", The response to the repositioning command \"z_move_steps d 440\" indicates "
            "that the command encountered an error while being executed.");
  EXPECT_EQ(recovery_state().resume_count, 0);
}

TEST_F(Recovery, FailedHomingEndsTheRecoveryWithoutCounting) {
  stand_at_z2();
  fake_device dev([&](const std::string& command) {
    if (command.rfind("x_move_steps", 0) == 0 || command == "z_home u") return std::string("E\r\n");
    return healthy_controller(command);
  });
  port_handle handle = &dev;
  message_recorder messages;
  EXPECT_FALSE(run_line("G01 X1.0", handle));
  EXPECT_EQ(messages.captions(),
            std::vector<std::string>{"CNC Machine: Error Resuming Operation!"});
  EXPECT_EQ(recovery_state().resume_count, 0);
  // Nothing moved the unhomed machine after the failed home command.
  EXPECT_EQ(dev.commands.back(), "z_home u");
}

TEST_F(Recovery, RepeatedRecoveryOfOneLineIsBounded) {
  recovery_state().depth = recovery_limit;
  message_recorder messages;
  fake_device dev(healthy_controller);
  port_handle handle = &dev;
  EXPECT_FALSE(recover_failed_line("G01 X1.0", tracked_position(), handle));
  EXPECT_EQ(messages.captions(),
            std::vector<std::string>{"CNC Machine: Error Resuming Operation!"});
  EXPECT_EQ(messages.all()[0].text,
            "The response to command \"G01 X1.0\" indicated that the command encountered an "
            "error while being executed.");
  EXPECT_TRUE(dev.commands.empty());
}

TEST_F(Recovery, RerunFromHomeComposesTheLineAgain) {
  // The machine is not homed: the line homes it first, and its command fails
  // once. The line started at home, so the re-run sends it again from there.
  int moves = 0;
  fake_device dev([&](const std::string& command) {
    if (command.rfind("x_move_steps", 0) == 0 && moves++ == 0) return std::string("E\r\n");
    return healthy_controller(command);
  });
  port_handle handle = &dev;
  EXPECT_TRUE(run_line("G01 X1.0", handle));
  const std::vector<std::string> wire = {"z_home u",
                                         "x_home l",
                                         "y_home b",
                                         "get_native_axis_scale X",
                                         "get_native_axis_scale Y",
                                         "get_native_axis_scale Z",
                                         "x_move_steps r 607",
                                         "z_home u",
                                         "x_home l",
                                         "y_home b",
                                         "x_move_steps r 607"};
  EXPECT_EQ(dev.commands, wire);
  EXPECT_EQ(recovery_state().resume_count, 1);
  EXPECT_EQ(axis_model_state().axes[axis_x].position_steps, 607);
}

}  // namespace
