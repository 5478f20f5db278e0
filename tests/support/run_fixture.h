// A fresh run in a fresh folder: the run state reset, the validator table
// built (quietly), the working directory a temporary folder so the
// translation log lands there.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "gcode/command_composer.h"
#include "link/validator_table.h"
#include "runner/run_state.h"
#include "support/process.h"

class run_fixture : public testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    reset_run_state();
    std::memcpy(validator_text_, builtin_validator_text, validator_text_size);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reload_validator_table(validator_text_));
    testing::internal::GetCapturedStdout();
    open_translation_log();
  }
  void TearDown() override {
    reset_run_state();
    if (chdir(old_cwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << old_cwd_;
  }
  /// The translation log as written so far.
  std::string log_text() { return dir_.read("KelCodeOutput.txt"); }

  temp_dir dir_;

 private:
  std::string old_cwd_;
  char validator_text_[validator_text_size];
};
