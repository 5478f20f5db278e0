#include "supervision/envelope_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "gcode/axis_model.h"
#include "gcode/command_composer.h"
#include "supervision/recovery.h"
#include "support/process.h"

namespace {

constexpr const char* default_feed_lines =
    "Feed Rates: X       = 9.89062500\"/minute\n"
    "Feed Rates: Y       = 9.89062500\"/minute\n"
    "Feed Rates: Z       = 1.50000000\"/minute\n"
    "Feed Rates: XYZ_MAX = 14.06765531\"/minute\n";

class EnvelopeReportTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_axis_model();
    reset_recovery();
  }
  void TearDown() override {
    reset_axis_model();
    reset_recovery();
  }

  static std::string report_lines() {
    std::FILE* out = std::tmpfile();
    EXPECT_NE(out, nullptr);
    if (!out) return "";
    write_envelope_lines(out);
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(out);
    return text;
  }

  static void set_envelope(axis_index a, int32_t min, int32_t max) {
    axis_model_state().axes[a].envelope_min = min;
    axis_model_state().axes[a].envelope_max = max;
  }
};

TEST_F(EnvelopeReportTest, ARunThatNeverHomedReportsZerosAndDefaultFeeds) {
  EXPECT_EQ(report_lines(), std::string("X: MIN = 00000000 steps, MAX = 00000000 steps\n"
                                        "Y: MIN = 00000000 steps, MAX = 00000000 steps\n"
                                        "Z: MIN = 00000000 steps, MAX = 00000000 steps\n") +
                                default_feed_lines + "Milling Resumed 0 times\n");
}

TEST_F(EnvelopeReportTest, NegativeAndWideStepCountsKeepEightDigits) {
  set_envelope(axis_x, -607, 607);
  set_envelope(axis_y, -2147483647 - 1, 123456789);
  set_envelope(axis_z, 8440, 8440);
  recovery_state().resume_count = 3;
  EXPECT_EQ(report_lines(), std::string("X: MIN = -00000607 steps, MAX = 00000607 steps\n"
                                        "Y: MIN = -2147483648 steps, MAX = 123456789 steps\n"
                                        "Z: MIN = 00008440 steps, MAX = 00008440 steps\n") +
                                default_feed_lines + "Milling Resumed 3 times\n");
}

TEST_F(EnvelopeReportTest, FeedRatesFollowTheQueriedScale) {
  EXPECT_DOUBLE_EQ(feed_rate(axis_x), 9.890625);
  EXPECT_DOUBLE_EQ(feed_rate(axis_z), 1.5);
  axis_model_state().scales[axis_x] = {2048, 1688};
  EXPECT_DOUBLE_EQ(feed_rate(axis_x), 4.9453125);
  const std::string text = report_lines();
  EXPECT_NE(text.find("\nFeed Rates: X       = 4.94531250\"/minute\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nFeed Rates: Y       = 9.89062500\"/minute\n"), std::string::npos) << text;
}

TEST_F(EnvelopeReportTest, AZeroNumeratorDoesNotBreakTheReport) {
  axis_model_state().scales[axis_y] = {0, 1688};
  EXPECT_TRUE(std::isfinite(feed_rate(axis_y)));
  const std::string text = report_lines();
  EXPECT_NE(text.find("Feed Rates: X       = 9.89062500\"/minute\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Feed Rates: Y       = 0.00000000\"/minute\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("nan"), std::string::npos) << text;
  EXPECT_EQ(text.find("inf"), std::string::npos) << text;
  EXPECT_NE(text.find("Milling Resumed 0 times\n"), std::string::npos);
}

class EnvelopeReportFileTest : public EnvelopeReportTest {
 protected:
  void SetUp() override {
    EnvelopeReportTest::SetUp();
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    reset_command_composer();
  }
  void TearDown() override {
    reset_command_composer();
    ASSERT_EQ(chdir(old_cwd_), 0);
    EnvelopeReportTest::TearDown();
  }
  temp_dir dir_;
  char old_cwd_[4096] = {};
};

TEST_F(EnvelopeReportFileTest, ClosesTheLogAndReplacesTheReport) {
  dir_.write(envelope_report_name,
             "an older report that is longer than the new one\n" + std::string(2000, '#'));
  open_translation_log();
  ASSERT_TRUE(translation_log_open());
  set_envelope(axis_z, 8440, 8440);
  write_envelope_report();
  EXPECT_FALSE(translation_log_open());
  EXPECT_EQ(dir_.read(envelope_report_name), report_lines());
  EXPECT_EQ(dir_.read(envelope_report_name).rfind("X: MIN = 00000000 steps", 0), 0u);
}

TEST_F(EnvelopeReportFileTest, AReportThatCannotBeCreatedIsSkipped) {
  ASSERT_EQ(mkdir(envelope_report_name, 0700), 0);
  open_translation_log();
  write_envelope_report();
  EXPECT_FALSE(translation_log_open()) << "the log is closed all the same";
}

}  // namespace
