#include "supervision/homing.h"

#include <gtest/gtest.h>

#include "gcode/axis_model.h"
#include "support/fake_device.h"
#include "support/message_recorder.h"
#include "support/run_fixture.h"

namespace {

using Homing = run_fixture;

TEST_F(Homing, FirstHomingWithAMachineQueriesTheScalesOnce) {
  fake_device dev(healthy_controller);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ensure_homed(&dev));
  testing::internal::GetCapturedStdout();
  const std::vector<std::string> expected = {"z_home u",
                                             "x_home l",
                                             "y_home b",
                                             "get_native_axis_scale X",
                                             "get_native_axis_scale Y",
                                             "get_native_axis_scale Z"};
  EXPECT_EQ(dev.commands, expected);
  // The log order is not the sending order.
  EXPECT_EQ(log_text(), "x_home l\ny_home b\nz_home u\n");
  const axis_model& m = axis_model_state();
  EXPECT_EQ(m.axes[axis_z].position_steps, 8440);
  EXPECT_EQ(m.axes[axis_z].envelope_min, 8440);
  EXPECT_EQ(m.axes[axis_z].envelope_max, 8440);
  EXPECT_DOUBLE_EQ(m.axes[axis_z].position_in, 2.11);
  EXPECT_TRUE(m.axes[axis_x].last_dir_positive);
  EXPECT_FALSE(m.axes[axis_y].last_dir_positive);
  EXPECT_TRUE(m.axes[axis_z].last_dir_positive);
  EXPECT_TRUE(homing_state().scales_queried);

  // A second homing (as in a recovery) sends only the home commands.
  dev.commands.clear();
  set_homed(false);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ensure_homed(&dev));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(dev.commands, (std::vector<std::string>{"z_home u", "x_home l", "y_home b"}));
}

TEST_F(Homing, DryRunHomesWithoutQuery) {
  EXPECT_TRUE(ensure_homed(nullptr));
  EXPECT_TRUE(homing_state().homed);
  EXPECT_FALSE(homing_state().scales_queried);
  EXPECT_EQ(log_text(), "x_home l\ny_home b\nz_home u\n");
  // Homed already: nothing more is written.
  EXPECT_TRUE(ensure_homed(nullptr));
  EXPECT_EQ(log_text(), "x_home l\ny_home b\nz_home u\n");
}

struct scale_case {
  const char* name;
  std::string x_reply;  // the reply line to the X query, without terminator
  axis_scale expected_x;
};

class ScaleReplies : public Homing, public testing::WithParamInterface<scale_case> {};

TEST_P(ScaleReplies, OnlyAUsableReplyReplacesTheScale) {
  const scale_case& c = GetParam();
  fake_device dev([&](const std::string& command) {
    if (command == "get_native_axis_scale X") return c.x_reply + "\r\n";
    if (command == "get_native_axis_scale Y") return std::string("2048/1688\"/1000\r\n");
    return healthy_controller(command);
  });
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ensure_homed(&dev));
  testing::internal::GetCapturedStdout();
  const axis_model& m = axis_model_state();
  EXPECT_EQ(m.scales[axis_x].numerator, c.expected_x.numerator);
  EXPECT_EQ(m.scales[axis_x].denominator, c.expected_x.denominator);
  // Y is queried and taken whatever became of X.
  EXPECT_EQ(m.scales[axis_y].numerator, 2048);
  EXPECT_EQ(m.scales[axis_y].denominator, 1688);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ScaleReplies,
    testing::Values(scale_case{"plain", "2048/1688\"/1000", {2048, 1688}},
                    scale_case{"leading_blanks", "  2048/1688\"/1000", {2048, 1688}},
                    scale_case{"text_after", "2048/1688 steps per 0.001\"/1000", {2048, 1688}},
                    scale_case{"blank_before_slash", "2048 /1688\"/1000", {1024, 1688}},
                    scale_case{"not_accepted", "2048/1688", {1024, 1688}},
                    scale_case{"reply_x", "X", {1024, 1688}},
                    scale_case{"no_number", "\"/1000", {1024, 1688}},
                    scale_case{"zero_numerator", "0/1688\"/1000", {1024, 1688}},
                    scale_case{"zero_denominator", "2048/0\"/1000", {1024, 1688}},
                    scale_case{"negative", "-2048/1688\"/1000", {1024, 1688}},
                    scale_case{"numerator_overflows_feed", "300000000/1688\"/1000", {1024, 1688}},
                    scale_case{"denominator_overflows_feed", "1024/40000000\"/1000", {1024, 1688}},
                    scale_case{"beyond_32_bits", "99999999999/1688\"/1000", {1024, 1688}}),
    [](const testing::TestParamInfo<scale_case>& info) { return std::string(info.param.name); });

TEST_F(Homing, AChangedZScaleMovesTheHomePositionToo) {
  fake_device dev([](const std::string& command) {
    if (command == "get_native_axis_scale Z") return std::string("8000/1000\"/1000\r\n");
    return healthy_controller(command);
  });
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ensure_homed(&dev));
  testing::internal::GetCapturedStdout();
  const axis_state& z = axis_model_state().axes[axis_z];
  // 2.11 inches at 8000 steps per 1000 thousandths.
  EXPECT_EQ(z.position_steps, 16880);
  EXPECT_EQ(z.envelope_min, 16880);
  EXPECT_EQ(z.envelope_max, 16880);
}

TEST_F(Homing, FailedHomeCommandsLeaveTheirAxes) {
  struct fail_case {
    const char* failing;
    int32_t z_steps;  // Z after the attempt (starts at 0)
  };
  for (const fail_case& c :
       {fail_case{"z_home u", 0}, fail_case{"x_home l", 8440}, fail_case{"y_home b", 8440}}) {
    reset_axis_model();
    reset_homing();
    set_axis_position(axis_x, 1.0, 607);
    message_recorder messages;
    fake_device dev([&](const std::string& command) {
      return command == c.failing ? std::string("E\r\n") : healthy_controller(command);
    });
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ensure_homed(&dev)) << c.failing;
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(homing_state().homed);
    EXPECT_FALSE(homing_state().scales_queried);
    EXPECT_EQ(axis_model_state().axes[axis_z].position_steps, c.z_steps) << c.failing;
    // X keeps its tracked value unless its home command succeeded.
    int32_t x_steps = std::string(c.failing) == "y_home b" ? 0 : 607;
    EXPECT_EQ(axis_model_state().axes[axis_x].position_steps, x_steps) << c.failing;
    EXPECT_EQ(dev.commands.back(), c.failing);
    EXPECT_EQ(log_text(), "");
  }
}

TEST_F(Homing, UnwrittenScaleQuerySkipsItsRead) {
  // The queries cannot be written: the run must not wait for their replies.
  message_recorder messages;
  int calls = 0;
  fake_device* dev_ptr = nullptr;
  fake_device dev([&](const std::string& command) {
    if (++calls == 3) dev_ptr->fail_writes(true);  // after y_home b
    return healthy_controller(command);
  });
  dev_ptr = &dev;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ensure_homed(&dev));
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(homing_state().scales_queried);
  EXPECT_EQ(messages.captions(), std::vector<std::string>(3, "Failed to write to COMM Port"));
  EXPECT_EQ(axis_model_state().scales[axis_x].numerator, 1024);
  EXPECT_EQ(dev.waits_with_nothing_to_come, 0);
}

}  // namespace
