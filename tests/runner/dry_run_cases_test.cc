// The dry-run cases in dry_run_cases/, one folder each, run in this process
// by one driver. A folder holds the script job.nc (and any file it
// includes), optionally `command_line` (what follows "millrun "; job.nc when
// absent), and what the run must leave, byte for byte:
//   expected.exit      the exit code
//   expected.log       KelCodeOutput.txt
//   expected.report    EnvelopeReport.txt
//   expected.trace     standard output after the validator listing
//   expected.messages  standard error without the estimate line
//   expected.estimate  the estimate line
// An expected file that is absent is not compared. Adding a case adds a
// folder, not code.
//
// Expected texts are worked out by hand from the machine's conversion rules
// with the default scales (X and Y 1024 steps per 1.688", Z 4000 steps per
// inch, Z home 2.11" = 8440 steps), never pasted from a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/dry_run.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;

const fs::path cases_dir = fs::path(MILLRUN_SOURCE_DIR) / "tests/runner/dry_run_cases";

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(cases_dir, ec))
    if (e.is_directory()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool is_expectation(const fs::path& relative) {
  const std::string name = relative.filename().string();
  return name.rfind("expected.", 0) == 0 || name == "command_line";
}

/// Copies the case's scripts, folders kept, into `dir`.
void copy_scripts(const fs::path& from, const temp_dir& dir) {
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(from)) {
    const fs::path relative = fs::relative(e.path(), from);
    if (e.is_directory())
      fs::create_directories(dir.file(relative.string()));
    else if (!is_expectation(relative))
      dir.write(relative.string(), read_file(e.path().string()));
  }
}

void run_case(const std::string& name) {
  const fs::path folder = cases_dir / name;
  auto expected = [&](const char* name, std::string& text) {
    if (!fs::exists(folder / name)) return false;
    text = read_file((folder / name).string());
    return true;
  };
  temp_dir dir;
  copy_scripts(folder, dir);
  std::string arguments = "job.nc";
  if (expected("command_line", arguments) && !arguments.empty() && arguments.back() == '\n')
    arguments.pop_back();
  const dry_run_outcome run = run_dry(dir, arguments);

  EXPECT_TRUE(run.listing_first) << "the validator listing does not come first";
  const std::string exit_code = std::to_string(run.exit_code) + "\n";
  const struct {
    const char* file;
    const std::string& got;
  } outputs[] = {
      {"expected.exit", exit_code},        {"expected.log", run.log},
      {"expected.report", run.report},     {"expected.trace", run.trace},
      {"expected.messages", run.messages}, {"expected.estimate", run.estimate},
  };
  for (const auto& o : outputs) {
    std::string text;
    if (expected(o.file, text)) {
      EXPECT_EQ(o.got, text) << o.file;
    }
  }
}

// One test for all folders, each run in turn: the failures name their folder.
TEST(DryRunCases, LeaveWhatIsExpected) {
  const std::vector<std::string> names = case_names();
  EXPECT_FALSE(names.empty()) << cases_dir;
  for (const std::string& name : names) {
    SCOPED_TRACE("case " + name);
    run_case(name);
  }
}

}  // namespace
