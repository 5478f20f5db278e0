// millresume's command line, in process: LINE as N or FILE:N, and the
// arguments around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restart/millresume_cli.h"

namespace {

struct line_case {
  const char* text;
  bool ok;
  const char* file;
  int line;
};

TEST(MillresumeCli, ResumeLineIsNOrFileColonN) {
  const line_case cases[] = {
      {"18000", true, "", 18000},
      {"007", true, "", 7},
      {"2147483647", true, "", 2147483647},
      {"holes.nc:3", true, "holes.nc", 3},
      {"sub dir/holes.nc:12", true, "sub dir/holes.nc", 12},
      // The split is at the last ':', so a drive letter stays in the name.
      {"C:\\jobs\\holes.nc:12", true, "C:\\jobs\\holes.nc", 12},
      {"a:b.nc:1", true, "a:b.nc", 1},
      {"0", false, "", 0},
      {"-3", false, "", 0},
      {"+3", false, "", 0},
      {"", false, "", 0},
      {" 5", false, "", 0},
      {"1.5", false, "", 0},
      {"12a", false, "", 0},
      {"2147483648", false, "", 0},
      {"99999999999999999999999", false, "", 0},
      {"holes.nc", false, "", 0},
      {"holes.nc:", false, "", 0},
      {"holes.nc:0", false, "", 0},
      {"holes.nc:3:", false, "", 0},
      {":4", false, "", 0},
  };
  for (const line_case& c : cases) {
    restart_point point{"untouched", 99};
    std::string error;
    EXPECT_EQ(parse_restart_line(c.text, point, error), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(point.file, c.file) << c.text;
      EXPECT_EQ(point.line, c.line) << c.text;
      EXPECT_EQ(error, "") << c.text;
    } else {
      EXPECT_EQ(point.file, "untouched") << c.text;
      EXPECT_EQ(point.line, 99) << c.text;
      EXPECT_NE(error.find(c.text), std::string::npos) << error;
    }
  }
}

struct arguments_case {
  std::vector<const char*> args;  // after the program name
  const char* script;             // expected, when there is no error
  const char* error_part;         // part of the expected error, or null
};

TEST(MillresumeCli, ArgumentsAreScriptThenLine) {
  const arguments_case cases[] = {
      {{"job.nc", "42"}, "job.nc", nullptr},
      // The script path is taken as millrun takes it: blanks and all.
      {{"my", "job.nc", "42"}, "my job.nc", nullptr},
      {{"--", "--odd.nc", "42"}, "--odd.nc", nullptr},
      {{}, "", "no script and line given"},
      {{"job.nc"}, "", "no line given"},
      {{"job.nc", "0"}, "", "positive line number"},
      {{"", "5"}, "", "no script given"},
      {{"--fast", "job.nc", "5"}, "", "unknown option --fast"},
      {{"--continue"}, "", "no script given"},
  };
  for (const arguments_case& c : cases) {
    std::vector<const char*> argv = {"millresume"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    millresume_command command =
        parse_millresume_arguments(static_cast<int>(argv.size()), argv.data());
    EXPECT_FALSE(command.help || command.version);
    if (c.error_part) {
      EXPECT_NE(command.error.find(c.error_part), std::string::npos) << command.error;
      continue;
    }
    EXPECT_EQ(command.error, "");
    EXPECT_EQ(command.run.script, c.script);
    EXPECT_EQ(command.run.start_at.line, 42);
    // A resumed job is millrun's run: both files, real dwells, real ports.
    EXPECT_TRUE(command.run.write_outputs && command.run.dwells_wait && command.run.trace);
    EXPECT_EQ(command.run.opener, nullptr);
  }
  // --continue takes the line from the journal: every word is the script's.
  const char* from_journal[] = {"millresume", "my", "job.nc", "--continue"};
  const millresume_command continued = parse_millresume_arguments(4, from_journal);
  EXPECT_EQ(continued.error, "");
  EXPECT_TRUE(continued.from_journal);
  EXPECT_EQ(continued.run.script, "my job.nc");
  EXPECT_EQ(continued.run.start_at.line, 0);
  const char* help[] = {"millresume", "--help"};
  EXPECT_TRUE(parse_millresume_arguments(2, help).help);
  const char* version[] = {"millresume", "--version"};
  EXPECT_TRUE(parse_millresume_arguments(2, version).version);
}

}  // namespace
