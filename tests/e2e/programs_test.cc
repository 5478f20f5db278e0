// Every program speaks the same way: --help and --version exit 0 on
// standard output, an unknown option is a usage error (exit 2), and a script
// that cannot be read is named on standard error. millrun keeps its silence
// on a missing script, as its language has it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/sim_process.h"

namespace {

struct program {
  std::string name;
  std::string binary;
  std::vector<std::string> missing_script_args;  // empty: takes no script
};

std::vector<program> programs() {
  return {
      {"millprep", MILLPREP_BINARY, {"nosuch.nc", "-o", "out.nc"}},
      {"millcheck", MILLCHECK_BINARY, {"nosuch.nc"}},
      {"millresume", MILLRESUME_BINARY, {"nosuch.nc", "3"}},
      {"millplot", MILLPLOT_BINARY, {"nosuch.nc"}},
      {"millsim", millsim_binary(), {}},
  };
}

TEST(Programs, SpeakTheSameWay) {
  temp_dir dir;
  for (const program& p : programs()) {
    SCOPED_TRACE(p.name);
    process_result help = run_process({p.binary, "--help"}, dir.path());
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("Usage: " + p.name + " ", 0), 0u) << help.out;

    process_result version = run_process({p.binary, "--version"}, dir.path());
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, p.name + " " + MILLRUN_VERSION + "\n");

    process_result bad = run_process({p.binary, "--no-such-option", "job.nc"}, dir.path());
    EXPECT_EQ(bad.exit_code, 2) << bad.err;
    EXPECT_NE(bad.err.find("--no-such-option"), std::string::npos) << bad.err;

    if (p.missing_script_args.empty()) continue;
    std::vector<std::string> argv = {p.binary};
    argv.insert(argv.end(), p.missing_script_args.begin(), p.missing_script_args.end());
    process_result missing = run_process(argv, dir.path());
    EXPECT_NE(missing.exit_code, 0);
    EXPECT_NE(missing.err.find("nosuch.nc"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out, "");
  }
}

}  // namespace
