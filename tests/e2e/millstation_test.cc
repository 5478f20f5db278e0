// millstation as a process: its command line, the check before the first
// command, and a whole run on the simulated controller, as millrun runs it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/sim_process.h"

#ifdef MILLSTATION_BINARY

namespace {

const char job[] =
    "open comm COM1\n"  // 1
    "G01 Z2.0\n"        // 2
    "G01 X1.0 Y0.5\n"   // 3
    "G00 Z2.11\n";      // 4

class Millstation : public testing::Test {
 protected:
  void SetUp() override {
    if (millsim_binary().empty()) GTEST_SKIP() << "millsim is not built";
  }

  /// Runs millstation on `script` with `args` on a fresh simulator, COM1
  /// pointing at it; `wire` gets what the simulator received.
  process_result run(const std::string& script, const std::vector<std::string>& args,
                     sim_transcript& wire) {
    dir_.write("job.nc", script);
    sim_process sim;
    const std::string link = dir_.file("ttyMILL1");
    if (!sim.start({}, link)) {
      ADD_FAILURE() << "millsim did not start: " << sim.failure();
      return {};
    }
    std::vector<std::string> argv = {MILLSTATION_BINARY, "job.nc", "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), args.begin(), args.end());
    const process_result result = run_process(argv, dir_.path(), {"MILLRUN_COM1=" + link}, 30000);
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(sim.stop()) << sim.failure();
    EXPECT_TRUE(parse_sim_transcript(sim.transcript(), wire)) << sim.transcript();
    return result;
  }

  temp_dir dir_;
};

TEST_F(Millstation, RunsTheJobAsMillrunDoesAfterPrintingItsAddress) {
  sim_transcript wire;
  const process_result r = run(job, {"--token", "t0ken"}, wire);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("millstation: http://127.0.0.1:", 0), 0u) << r.out;
  const std::string first_line = r.out.substr(0, r.out.find('\n'));
  EXPECT_NE(first_line.find("/?token=t0ken"), std::string::npos) << first_line;
  EXPECT_EQ(wire.commands.size(), 9u);  // homing, scales, three moves
  EXPECT_EQ(wire.x, 607);
  EXPECT_TRUE(dir_.exists("KelCodeOutput.txt"));
  EXPECT_TRUE(dir_.exists("EnvelopeReport.txt"));
  EXPECT_TRUE(dir_.exists("RunJournal.txt"));
}

TEST_F(Millstation, AJobThatWouldStopPartwayIsNotStarted) {
  sim_transcript wire;
  const process_result r =
      run(std::string(job) + "G02 X2 Y2 I1 J0\ninclude missing.nc\nM06\nM01\n", {}, wire);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(wire.commands.empty()) << "sent: " << wire.commands.size();
  for (const char* problem : {"job.nc:5: ", "job.nc:6: ", "job.nc:7: "})
    EXPECT_NE(r.err.find(problem), std::string::npos) << problem << "\n" << r.err;
  EXPECT_EQ(r.err.find("job.nc:8: "), std::string::npos) << "M1 pauses, it is no problem";
  EXPECT_FALSE(dir_.exists("KelCodeOutput.txt"));
}

TEST_F(Millstation, UsageErrorsAndAnAddressThatCannotBeBoundRunNothing) {
  dir_.write("job.nc", job);
  const std::vector<std::vector<std::string>> cases = {
      {MILLSTATION_BINARY},
      {MILLSTATION_BINARY, "job.nc", "--listen", "localhost"},
      {MILLSTATION_BINARY, "job.nc", "--listen", "127.0.0.1:65536"},
      {MILLSTATION_BINARY, "job.nc", "--token", "a b"},
      {MILLSTATION_BINARY, "job.nc", "--linger", "-1"},
      {MILLSTATION_BINARY, "job.nc", "--frobnicate"},
      // TEST-NET-1: no address of this machine.
      {MILLSTATION_BINARY, "job.nc", "--listen", "192.0.2.1:8080"},
  };
  for (const auto& argv : cases) {
    SCOPED_TRACE(argv.back());
    const process_result r = run_process(argv, dir_.path(), {"MILLRUN_COM1=/nonexistent"});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find("millstation: "), std::string::npos) << r.err;
    EXPECT_FALSE(dir_.exists("KelCodeOutput.txt"));
  }
}

}  // namespace

#endif  // MILLSTATION_BINARY
