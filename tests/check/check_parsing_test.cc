// millcheck's pure readers: the travel ranges, the machine profile, the
// arguments and the JSON strings of its report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/check_report.h"
#include "check/machine_profile.h"
#include "check/millcheck_cli.h"

namespace {

TEST(TravelRange, ReadsBoundsOrRefuses) {
  struct row {
    const char* text;
    bool ok;
    bool has_min, has_max;
    double min, max;
  };
  const row rows[] = {
      {"0:12", true, true, true, 0.0, 12.0},   {":2.11", true, false, true, 0.0, 2.11},
      {"-1.5:", true, true, false, -1.5, 0.0}, {" -.25 : +3 ", true, true, true, -0.25, 3.0},
      {":", true, false, false, 0.0, 0.0},     {"", true, false, false, 0.0, 0.0},
      {"12", false, false, false, 0, 0},       // no colon
      {"3:1", false, false, false, 0, 0},      // lower above upper
      {"1e3:2e3", false, false, false, 0, 0},  // no exponents
      {"inf:", false, false, false, 0, 0},     {"1..2:3", false, false, false, 0, 0},
  };
  for (const row& r : rows) {
    travel_limits limits;
    limits.has_min[1] = true;  // replaced on success, kept on failure
    limits.min[1] = -7.0;
    std::string error;
    ASSERT_EQ(read_travel_range(r.text, 1, limits, error), r.ok) << r.text << ": " << error;
    if (!r.ok) {
      EXPECT_FALSE(error.empty()) << r.text;
      EXPECT_TRUE(limits.has_min[1] && limits.min[1] == -7.0) << r.text;
      continue;
    }
    EXPECT_EQ(limits.has_min[1], r.has_min) << r.text;
    EXPECT_EQ(limits.has_max[1], r.has_max) << r.text;
    if (r.has_min) {
      EXPECT_DOUBLE_EQ(limits.min[1], r.min) << r.text;
    }
    if (r.has_max) {
      EXPECT_DOUBLE_EQ(limits.max[1], r.max) << r.text;
    }
    EXPECT_FALSE(limits.has_min[0] || limits.has_max[2]) << r.text;  // other axes untouched
  }
}

TEST(MachineProfile, ReadsAxesCommentsAndNamesTheFaultyLine) {
  machine_profile profile;
  std::string error;
  int line = 0;
  ASSERT_TRUE(read_machine_profile("# the bench mill\r\n\nX = 0:12   # table\n  z=:2.11\n", profile,
                                   error, line))
      << error;
  EXPECT_TRUE(profile.named[0] && !profile.named[1] && profile.named[2]);
  EXPECT_DOUBLE_EQ(profile.limits.max[0], 12.0);
  EXPECT_FALSE(profile.limits.has_min[2]);
  EXPECT_DOUBLE_EQ(profile.limits.max[2], 2.11);

  struct row {
    const char* text;
    int line;
    const char* says;
  };
  const row faults[] = {
      {"x = 0:1\nw = 0:1\n", 2, "unknown axis \"w\""},
      {"x = 0:1\n\n# c\nx = 0:2\n", 4, "given twice"},
      {"y 0:1\n", 1, "expected AXIS = MIN:MAX"},
      {"z = 5:1\n", 1, "lower limit exceeds the upper"},
  };
  for (const row& r : faults) {
    machine_profile untouched;
    EXPECT_FALSE(read_machine_profile(r.text, untouched, error, line)) << r.text;
    EXPECT_EQ(line, r.line) << r.text;
    EXPECT_NE(error.find(r.says), std::string::npos) << r.text << ": " << error;
  }
}

TEST(MillcheckArguments, OptionsAnywhereAndUsageErrors) {
  const char* good[] = {"millcheck", "--x",    "-1:5",      "my",      "--z=:2.11",
                        "job.nc",    "--json", "--profile", "mill.txt"};
  millcheck_options o = parse_millcheck_arguments(9, good);
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.script, "my job.nc");
  EXPECT_EQ(o.profile, "mill.txt");
  EXPECT_TRUE(o.json);
  EXPECT_TRUE(o.given[0] && !o.given[1] && o.given[2]);
  EXPECT_DOUBLE_EQ(o.limits.min[0], -1.0);
  EXPECT_DOUBLE_EQ(o.limits.max[2], 2.11);

  const char* dashed[] = {"millcheck", "--", "--x"};
  EXPECT_EQ(parse_millcheck_arguments(3, dashed).script, "--x");

  struct row {
    std::vector<const char*> args;
    const char* says;
  };
  const row rows[] = {
      {{"millcheck"}, "no script given"},
      {{"millcheck", "job.nc", "--x"}, "--x needs MIN:MAX"},
      {{"millcheck", "job.nc", "--y", "3"}, "--y: \"3\" is not MIN:MAX"},
      {{"millcheck", "job.nc", "--x", "0:1", "--x=0:2"}, "--x may be given once"},
      {{"millcheck", "job.nc", "--feed", "3"}, "unknown option --feed"},
      {{"millcheck", "job.nc", "--profile"}, "--profile needs a file name"},
      {{"millcheck", "job.nc", "--json=yes"}, "--json takes no value"},
  };
  for (const row& r : rows) {
    millcheck_options bad =
        parse_millcheck_arguments(static_cast<int>(r.args.size()), r.args.data());
    EXPECT_NE(bad.error.find(r.says), std::string::npos) << r.says << " / " << bad.error;
  }
}

TEST(CheckReport, JsonStringsAreEscapedAndValidUtf8) {
  struct row {
    std::string text, json;
  };
  const row rows[] = {
      {"G01 X1", "\"G01 X1\""},
      {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
      {std::string("a\tb\x01", 4), "\"a\\u0009b\\u0001\""},
      {"\xC3\xA9t\xC3\xA9", "\"\xC3\xA9t\xC3\xA9\""},  // UTF-8 kept
      {"\xE9t\xE9", "\"\\ufffdt\\ufffd\""},            // Latin-1 replaced
      {"\xE2\x82", "\"\\ufffd\\ufffd\""},              // cut short
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},   // a surrogate
      {"\xF0\x9F\x94\xA9", "\"\xF0\x9F\x94\xA9\""},    // four bytes
  };
  for (const row& r : rows) EXPECT_EQ(json_string(r.text), r.json) << r.text;
}

}  // namespace
