// millcheck end to end: the real program on small jobs in a fresh folder,
// its report, its JSON and its exit code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/process.h"

// A build of the tests without the program (the Windows test binary, which
// runs no end-to-end tests) skips these.
#ifndef MILLCHECK_BINARY
#define MILLCHECK_BINARY ""
#endif

namespace {

bool json_blank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

/// Whether `s` holds one JSON value from `i` on (objects, arrays, strings
/// with their escapes, numbers, true, false, null); `i` ends after it.
bool json_value_at(const std::string& s, size_t& i) {
  while (i < s.size() && json_blank(s[i])) ++i;
  if (i >= s.size()) return false;
  const char c = s[i];
  if (c == '{' || c == '[') {
    const char close = c == '{' ? '}' : ']';
    bool after_comma = false;
    for (++i;;) {
      while (i < s.size() && json_blank(s[i])) ++i;
      if (i < s.size() && s[i] == close && !after_comma) return ++i, true;
      if (c == '{') {
        if (i >= s.size() || s[i] != '"' || !json_value_at(s, i)) return false;
        while (i < s.size() && json_blank(s[i])) ++i;
        if (i >= s.size() || s[i++] != ':') return false;
      }
      if (!json_value_at(s, i)) return false;
      while (i < s.size() && json_blank(s[i])) ++i;
      after_comma = i < s.size() && s[i] == ',';
      if (after_comma)
        ++i;
      else if (i >= s.size() || s[i] != close)
        return false;
    }
  }
  if (c == '"') {
    for (++i; i < s.size(); ++i) {
      const unsigned char d = static_cast<unsigned char>(s[i]);
      if (d == '"') return ++i, true;
      if (d < 0x20) return false;
      if (d == '\\' &&
          (++i >= s.size() || std::string("\"\\/bfnrtu").find(s[i]) == std::string::npos))
        return false;
    }
    return false;
  }
  for (const std::string word : {"true", "false", "null"})
    if (s.compare(i, word.size(), word) == 0) return i += word.size(), true;
  if (c != '-' && (c < '0' || c > '9')) return false;
  char* end = nullptr;
  std::strtod(s.c_str() + i, &end);
  i = static_cast<size_t>(end - s.c_str());
  return true;
}

bool is_one_json_object(const std::string& s) {
  size_t i = 0;
  if (!json_value_at(s, i) || s.find('{') != s.find_first_not_of(" \n")) return false;
  while (i < s.size() && json_blank(s[i])) ++i;
  return i == s.size();
}

class Millcheck : public testing::Test {
 protected:
  void SetUp() override {
    if (std::string(MILLCHECK_BINARY).empty()) GTEST_SKIP() << "millcheck is not built here";
  }
  process_result check(std::vector<std::string> args) {
    args.insert(args.begin(), MILLCHECK_BINARY);
    return run_process(args, dir_.path());
  }
  temp_dir dir_;
};

// Homing, three home commands and three scale queries through the stand-in
// controller, four moves; a dwell of a minute that must not be waited
// (the harness would time out). Default scales: 1.0" is 607 X steps,
// 0.5" 303 Y steps, 0.11" 440 Z steps. The estimate, reckoned by hand:
// (607 + 440 + 440 + 607) steps at 10 ms, 60 s of dwell, and 264 bytes of
// commands and shortest replies at 9600 baud: 81.2 s.
const char* const fitting_job =
    "open comm COM1\n"
    "G20\n"
    "G01 X1.0 Y0.5\n"
    "G01 Z2.0\n"
    "G04 P60000\n"
    "G00 Z2.11\n"
    "G00 X0 Y0\n";

TEST_F(Millcheck, JobThatFitsWritesNothingAndWaitsNothing) {
  dir_.write("job.nc", fitting_job);
  process_result r = check({"job.nc", "--x", "0:2", "--y", "0:1", "--z", "1.5:2.11"});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "Envelope:\n"
            "  X     0.0000 to     1.0006 in          0 to       607 steps\n"
            "  Y     0.0000 to     0.4995 in          0 to       303 steps\n"
            "  Z     2.0000 to     2.1100 in       8000 to      8440 steps\n"
            "Limits: X 0.0000:2.0000, Y 0.0000:1.0000, Z 1.5000:2.1100\n"
            "Commands: 10\n"
            "Estimated machine time: 0:01:21 (h:mm:ss)\n"
            "Verdict: the job fits: every line is accepted and every move stays within the "
            "travel limits\n");
  EXPECT_FALSE(dir_.exists("KelCodeOutput.txt"));
  EXPECT_FALSE(dir_.exists("EnvelopeReport.txt"));
}

/// The problem lines of a report: those before "Envelope".
std::vector<std::string> problem_lines(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size() && out.compare(start, 8, "Envelope") != 0) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

TEST_F(Millcheck, EveryProblemIsReportedWithItsFileAndLine) {
  struct row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // job.nc first
    std::vector<std::string> args;
    std::vector<std::string> problems;
    const char* verdict;
  };
  const row rows[] = {
      {"X leaves its travel once; the lines after it that leave X there are not told again",
       {{"job.nc", "G20\nG01 X0.5 Y0.5\nG01 X1.2\nG01 Y1.0\nG20\nG01 X0.5\n"}},
       {"--x", "0:1"},
       {"job.nc:3: X 1.2000 beyond the upper limit 1.0000: G01 X1.2"},
       "the job does not fit: 1 position beyond the travel limits"},
      {"two refused lines, passed over: the run goes on to X 2",
       {{"job.nc", "G20\nG02 X1 Y1 I0 J0.5\nG01 X1\nG21\nG01 X2\n"}},
       {"--x", ":2.5"},
       {"job.nc:2: Unknown GCode: G02 X1 Y1 I0 J0.5",
        "job.nc:4: Unsupported GCode, millimetres (G21) or relative coordinates (G91): G21"},
       "problems found: 2 refused lines"},
      {"in an include: the included file names its own path and line",
       {{"job.nc", "G20\ninclude part.nc\ninclude gone.nc\nG01 X0.1\n"},
        {"part.nc", "G01 X0.2\n  G01 Y-0.5 (below)\nG03 X1 Y1 I1 J0\nG01 Y0\n"}},
       {"--y", "0:"},
       {"part.nc:2: Y -0.5000 beyond the lower limit 0.0000:   G01 Y-0.5 (below)",
        "part.nc:3: Unknown GCode: G03 X1 Y1 I1 J0",
        "job.nc:3: Include file missing, the included file cannot be read: include gone.nc"},
       "the job does not fit: 2 refused lines, 1 position beyond the travel limits"},
      {"the homing that the first line causes takes Z to its home, above the limit",
       {{"job.nc", "; header\nG01 Z1.0\n"}},
       {"--z", ":2"},
       {"job.nc:1: Z home 2.1100 beyond the upper limit 2.0000: ; header"},
       "the job does not fit: 1 position beyond the travel limits"},
  };
  for (const row& r : rows) {
    for (const auto& [name, text] : r.files) dir_.write(name, text);
    std::vector<std::string> args = {"job.nc"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    process_result result = check(args);
    EXPECT_EQ(result.exit_code, 1) << r.name << "\n" << result.out << result.err;
    EXPECT_EQ(problem_lines(result.out), r.problems) << r.name;
    EXPECT_NE(result.out.find(std::string("Verdict: ") + r.verdict + "\n"), std::string::npos)
        << r.name << "\n"
        << result.out;
  }
}

TEST_F(Millcheck, RefusedFormsAreEachToldAndTheConversionAdviceOnce) {
  // Millimetres, a tool change once the job has moved, an arc, a motion line
  // after the program end: each at its own line, each passed over; CAM
  // output that millprep converts is pointed to millprep once.
  dir_.write("job.nc", "G20\nG21\nG01 X1\nT2 M6\nG02 X1 Y1 I1 J0\nM30\nG01 X2\n");
  process_result r = check({"job.nc"});
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  EXPECT_EQ(problem_lines(r.out),
            (std::vector<std::string>{
                "job.nc:2: Unsupported GCode, millimetres (G21) or relative coordinates (G91): G21",
                "job.nc:4: Unsupported GCode, a program stop or tool change once the job has "
                "moved; split the job with millprep --split-tools: T2 M6",
                "job.nc:5: Unknown GCode: G02 X1 Y1 I1 J0",
                "job.nc:7: Unsupported GCode, a motion line after the program end (M2/M30): "
                "G01 X2"}));
  EXPECT_EQ(r.err, "convert CAM output first: millprep job.nc -o job_millrun.nc\n");
}

TEST_F(Millcheck, JsonIsOneObjectWithTheSameFindings) {
  dir_.write("job \"a\".nc", "G20\nG01 X1.5 Y0.25\nG02 X1 Y1 I0 J0.5 (\xE9t\xE9)\n");
  process_result r = check({"--json", "job \"a\".nc", "--x", "0:1"});
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  EXPECT_TRUE(is_one_json_object(r.out)) << r.out;
  const char* const parts[] = {
      "\"script\": \"job \\\"a\\\".nc\",\n", "\"fits\": false,\n", "\"refused_lines\": 1,\n",
      "\"travel_problems\": 1,\n",
      "{\"kind\": \"travel\", \"file\": \"job \\\"a\\\".nc\", \"line\": 2, \"what\": \"X 1.5000 "
      "beyond the upper limit 1.0000\", \"why\": \"\", \"axis\": \"X\", \"position_in\": 1.5000, "
      "\"limit_in\": 1.0000, \"side\": \"upper\", \"home\": false, \"text\": \"G01 X1.5 Y0.25\"}",
      "{\"kind\": \"refused\", \"file\": \"job \\\"a\\\".nc\", \"line\": 3, \"what\": \"Unknown "
      "GCode\", \"why\": \"\", \"text\": \"G02 X1 Y1 I0 J0.5 (\\ufffdt\\ufffd)\"}",
      "\"x\": {\"min_in\": 0.0000, \"max_in\": 1.0000}, \"y\": {\"min_in\": null, \"max_in\": "
      "null}",
      // 1.5" is 910 X steps, 0.25" 152 Y steps.
      "\"x\": {\"min_in\": 0.0000, \"max_in\": 1.5001, \"min_steps\": 0, \"max_steps\": 910}",
      "\"y\": {\"min_in\": 0.0000, \"max_in\": 0.2506, \"min_steps\": 0, \"max_steps\": 152}",
      "\"commands\": 4,\n",  // the homing and one move
  };
  for (const char* part : parts) EXPECT_NE(r.out.find(part), std::string::npos) << part;
}

TEST_F(Millcheck, ProfileGivesLimitsAndAnOptionReplacesItsAxis) {
  dir_.write("job.nc", "G20\nG01 X1.5\nG01 Z2.5\n");
  dir_.write("mill.profile", "# bench mill\nx = 0:1\nz = :3   # top of travel\n");
  struct row {
    std::vector<std::string> args;
    int exit_code;
    const char* limits;
  };
  const row rows[] = {
      {{"--profile", "mill.profile"}, 1, "Limits: X 0.0000:1.0000, Y none, Z :3.0000\n"},
      {{"--x", "-1:2", "--profile=mill.profile"},
       0,
       "Limits: X -1.0000:2.0000, Y none, Z :3.0000\n"},
      {{"--profile", "mill.profile", "--z", ":2.2", "--x", ":"},
       1,
       "Limits: X none, Y none, Z :2.2000\n"},
  };
  for (const row& r : rows) {
    std::vector<std::string> args = {"job.nc"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    process_result result = check(args);
    EXPECT_EQ(result.exit_code, r.exit_code) << r.limits << result.out << result.err;
    EXPECT_NE(result.out.find(r.limits), std::string::npos) << result.out;
  }
}

TEST_F(Millcheck, UsageErrorsAndUnreadableFilesExitTwo) {
  dir_.write("job.nc", "G20\n");
  dir_.write("bad.profile", "x = 0:1\nq = 0:1\n");
  ASSERT_EQ(std::system(("mkdir '" + dir_.file("folder.nc") + "'").c_str()), 0);
  struct row {
    std::vector<std::string> args;
    const char* says;
  };
  const row rows[] = {
      {{}, "no script given"},
      {{"missing.nc"}, "missing.nc: the script cannot be read"},
      {{"folder.nc"}, "folder.nc: the script cannot be read"},
      {{"/dev/zero"}, "/dev/zero: the script cannot be read"},
      {{"job.nc", "--profile", "none.profile"}, "none.profile: the profile cannot be opened"},
      {{"job.nc", "--profile", "bad.profile"}, "bad.profile:2: unknown axis \"q\""},
  };
  for (const row& r : rows) {
    process_result result = check(r.args);
    EXPECT_EQ(result.exit_code, 2) << r.says;
    EXPECT_EQ(result.out, "") << r.says;
    EXPECT_NE(result.err.find(r.says), std::string::npos) << r.says << "\n" << result.err;
  }
  process_result help = check({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("Usage: millcheck SCRIPT", 0), 0u);
}

TEST_F(Millcheck, BehindTheHomeSwitchWarnsOnlyWithoutLimits) {
  // X and Y below 0 and Z above its home: warnings while no limits are
  // given at all; a limit given, even one side open, replaces them.
  dir_.write("job.nc", "G01 X-1.0 Y0.5\nG01 Y-0.25\nG01 Z2.5\n");
  struct row {
    std::vector<std::string> args;
    int warnings;
  };
  const row rows[] = {{{"job.nc"}, 3}, {{"job.nc", "--json"}, 3}, {{"job.nc", "--x", ":3"}, 0}};
  for (const row& r : rows) {
    process_result result = check(r.args);
    EXPECT_EQ(result.exit_code, 0) << result.out;
    size_t count = 0;
    for (size_t at = 0; (at = result.out.find("0 behind the home switch", at)) != std::string::npos;
         ++at)
      ++count;
    EXPECT_EQ(count, static_cast<size_t>(r.warnings)) << result.out;
  }
  EXPECT_NE(
      check({"job.nc"})
          .out.find("job.nc:3: warning: Z 2.5000 behind the home switch (above the Z home 2.1100)"),
      std::string::npos);
}

TEST_F(Millcheck, ListingStopsAfterAThousandProblems) {
  std::string job;
  for (int i = 0; i < 1200; ++i) job += "G02 X1\n";
  dir_.write("job.nc", job);
  process_result result = check({"job.nc"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.out.find("job.nc:1000: Unknown GCode"), std::string::npos);
  EXPECT_EQ(result.out.find("job.nc:1001:"), std::string::npos);
  EXPECT_NE(result.out.find("Listing stopped after 1000 problems; 200 more not listed."),
            std::string::npos);
  EXPECT_NE(result.out.find("1200 refused lines"), std::string::npos);
}

}  // namespace
