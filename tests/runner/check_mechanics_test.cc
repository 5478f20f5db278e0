// The run's check mechanics, in process: travel beyond the limits is told
// by the line that reaches it, once; refused lines are passed over, and a
// file that includes itself is refused where it closes the circle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/run_program.h"
#include "support/run_fixture.h"

namespace {

class told_problems : public run_observer {
 public:
  void line_refused(const refusal_event& e) override {
    told.push_back(std::string(e.path) + ":" + std::to_string(e.line_number) + " " + e.what);
  }
  void travel_exceeded(const travel_event& e) override {
    told.push_back(std::string(e.path) + ":" + std::to_string(e.line_number) + " axis " +
                   std::to_string(e.axis) + (e.above ? " above" : " below"));
  }
  std::vector<std::string> told;
};

class CheckMechanics : public run_fixture {
 protected:
  std::vector<std::string> check(const travel_limits& limits, bool& ran_to_end) {
    told_problems problems;
    run_options options;
    options.script = "job.nc";
    options.write_outputs = false;
    options.dwells_wait = false;
    options.trace = false;
    options.machine_order = true;
    options.skip_refused = true;
    options.limits = limits;
    options.observers = {&problems};
    ran_to_end = run_program(options) == 0;
    return problems.told;
  }
};

TEST_F(CheckMechanics, TravelIsToldByTheLineThatReachesIt) {
  // Z's home (2.11) is above 2.0: told by the homing line, once, though
  // that line moves nothing itself. X leaves at line 3 and stays out while
  // Y moves and a header line passes; it is told once.
  dir_.write("job.nc", "G20\nG01 X0.5\nG01 X1.5\nG01 Y0.2\nG90\nG01 X1.7\nG01 X0.5 Z1\n");
  travel_limits limits;
  limits.has_max[axis_x] = limits.has_max[axis_z] = true;
  limits.max[axis_x] = 1.0;
  limits.max[axis_z] = 2.0;
  bool ran = false;
  EXPECT_EQ(check(limits, ran),
            (std::vector<std::string>{"job.nc:1 axis 2 above", "job.nc:3 axis 0 above",
                                      "job.nc:6 axis 0 above"}));
  EXPECT_TRUE(ran);
}

TEST_F(CheckMechanics, SelfIncludeIsRefusedWhereTheCircleCloses) {
  // Refused at the 33rd level instead, each of the two includes of every
  // level would run on: 2^32 files.
  // The circle may close through the including file too.
  dir_.write("job.nc", "include twice.nc\nG01 X1\n");
  dir_.write("twice.nc", "G20\ninclude twice.nc\ninclude job.nc\n");
  bool ran = false;
  EXPECT_EQ(check(travel_limits{}, ran), (std::vector<std::string>{"twice.nc:2 Include too deep",
                                                                   "twice.nc:3 Include too deep"}));
  EXPECT_TRUE(ran);
}

}  // namespace
