// Replays the fuzz inputs kept in the repository through the same cases the
// libFuzzer targets run (fuzz/fuzz_cases.h): the seed corpus under
// tests/fuzz/corpus/<target>/ and every input that once broke an invariant
// under tests/fuzz/regressions/<target>/. Each must now run through with
// every invariant holding, under the ordinary build and the sanitizer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_cases.h"
#include "support/message_recorder.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;

const std::string fuzz_dir = std::string(MILLRUN_SOURCE_DIR) + "/tests/fuzz";

/// The inputs kept for a target, in name order.
std::vector<fs::path> inputs_of(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* kind : {"corpus", "regressions"}) {
    fs::path dir = fs::path(fuzz_dir) / kind / target;
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string bytes_of(const fs::path& file) {
  std::string bytes;
  EXPECT_TRUE(fuzz_cases::read_bytes(file.string(), bytes)) << file;
  return bytes;
}

const uint8_t* data_of(const std::string& bytes) {
  return reinterpret_cast<const uint8_t*>(bytes.data());
}

/// Runs a case with its trace captured rather than printed.
template <typename Case>
std::string quietly(Case run) {
  testing::internal::CaptureStdout();
  std::string problem = run();
  testing::internal::GetCapturedStdout();
  return problem;
}

std::string dry_run(const std::string& bytes, const temp_dir& dir) {
  return quietly(
      [&] { return fuzz_cases::run_dry_run_case(data_of(bytes), bytes.size(), dir.path()); });
}
std::string validator_run(const std::string& bytes) {
  return quietly([&] { return fuzz_cases::run_validator_case(data_of(bytes), bytes.size()); });
}
std::string reply_run(const std::string& bytes) {
  return quietly([&] { return fuzz_cases::run_reply_case(data_of(bytes), bytes.size()); });
}

/// Messages are recorded, not shown.
class fuzz_replay : public testing::Test {
 protected:
  message_recorder messages_;
};

TEST_F(fuzz_replay, DryRunInputsRunSoundly) {
  temp_dir dir;
  std::vector<fs::path> files = inputs_of("fuzz_dry_run");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    std::string bytes = bytes_of(file);
    EXPECT_EQ(dry_run(bytes, dir), "") << file;
  }
}

TEST_F(fuzz_replay, ValidatorInputsRunSoundly) {
  std::vector<fs::path> files = inputs_of("fuzz_validator");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    std::string bytes = bytes_of(file);
    EXPECT_EQ(validator_run(bytes), "") << file;
  }
}

TEST_F(fuzz_replay, ReplyInputsRunSoundly) {
  std::vector<fs::path> files = inputs_of("fuzz_reply");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    std::string bytes = bytes_of(file);
    EXPECT_EQ(reply_run(bytes), "") << file;
  }
}

// The dry-run case really runs the script: the demo seed (a.nc including
// b.nc) leaves its translation log and report behind in the folder.
TEST_F(fuzz_replay, DryRunCaseRunsTheWholeJob) {
  temp_dir dir;
  std::string bytes = bytes_of(fs::path(fuzz_dir) / "corpus/fuzz_dry_run/demo_with_holes");
  ASSERT_EQ(dry_run(bytes, dir), "");
  std::string log = dir.read("KelCodeOutput.txt");
  EXPECT_NE(log.find("x_home l\ny_home b\nz_home u\n"), std::string::npos);
  EXPECT_GT(std::count(log.begin(), log.end(), '\n'), 50);
  EXPECT_NE(dir.read("EnvelopeReport.txt").find("Milling Resumed 0 times"), std::string::npos);
}

// A dry-run input with a controller stream runs against the fake controller:
// the rejected reply is recovered from once.
TEST_F(fuzz_replay, DryRunCaseRecoversOnTheFakeController) {
  temp_dir dir;
  std::string bytes = bytes_of(fs::path(fuzz_dir) / "corpus/fuzz_dry_run/machine_recovery");
  ASSERT_EQ(dry_run(bytes, dir), "");
  EXPECT_NE(dir.read("EnvelopeReport.txt").find("Milling Resumed 1 times"), std::string::npos);
}

// The fuzzer may only hand the program inputs it can run without waiting or
// reaching outside its folder; everything else is skipped, not run.
TEST(fuzz_input_filter, SkipsWhatWouldSleepOrReachOutside) {
  struct row {
    const char* script;
    bool runs;
  };
  const row rows[] = {
      {"G01 X1.0\nG04 P500\nN10 G04 P 1e9\n", true},  // dwells are turned off
      {"include b.nc\n", true},
      {"include /dev/zero\n", false},
      {"INCLUDE ../b.nc\n", false},
      {" \tinclude /dev/zero\n", false},
      {"// an include path is taken from the working directory\n", true},
      {"open comm COM1\n", true},
      {"open comm lpc2000 COM1\n", false},
      {"include b.nc\ninclude b.nc\ninclude b.nc\ninclude b.nc\ninclude b.nc\ninclude b.nc\n",
       true},
      {"include b.nc\ninclude b.nc\ninclude b.nc\ninclude b.nc\ninclude b.nc\ninclude b.nc\n"
       "include c.nc\n",
       false},
  };
  for (const row& r : rows)
    EXPECT_EQ(fuzz_cases::dry_run_input_is_safe({r.script}), r.runs) << r.script;
  // A line longer than the reader's buffer arrives in pieces, and a piece
  // may begin with the keyword.
  std::string long_line = "G01 X1." + std::string(2040, '0') + "include /dev/zero\n";
  EXPECT_FALSE(fuzz_cases::dry_run_input_is_safe({long_line}));
}

}  // namespace
