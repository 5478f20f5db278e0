#include "runner/script_interpreter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/message.h"
#include "gcode/axis_model.h"
#include "gcode/command_composer.h"
#include "link/validator_table.h"
#include "runner/run_program.h"
#include "supervision/homing.h"
#include "support/message_recorder.h"
#include "support/process.h"
#include "support/run_fixture.h"

namespace {

constexpr const char* home_lines = "x_home l\ny_home b\nz_home u\n";

/// A dry run (no port is ever opened) in a fresh working directory, with the
/// messages recorded instead of shown.
class ScriptInterpreterTest : public run_fixture {
 protected:
  /// Replaces the built-in table with one parsed from `text`.
  void load_validators(const std::string& text) {
    validator_text_.assign(text.begin(), text.end());
    validator_text_.push_back('\0');
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reload_validator_table(validator_text_.data()));
    testing::internal::GetCapturedStdout();
  }

  /// Runs one line as line 7 of "test.nc"; `text` receives the line as the
  /// interpreter left it.
  bool line(const std::string& source, std::string* text = nullptr) {
    std::vector<char> buffer(source.begin(), source.end());
    buffer.push_back('\0');
    port_handle handle = nullptr;
    bool ok = process_script_line("test.nc", 7, buffer.data(), handle);
    if (text) *text = buffer.data();
    return ok;
  }

  bool run(const std::string& path) { return run_script_file(path.c_str(), nullptr); }

  /// The messages shown since the last forget_shown().
  std::vector<recorded_message> shown() const {
    const std::vector<recorded_message>& all = messages_.all();
    return {all.begin() + static_cast<std::ptrdiff_t>(forgotten_), all.end()};
  }
  void forget_shown() { forgotten_ = messages_.all().size(); }

  message_recorder messages_;
  size_t forgotten_ = 0;
  std::vector<char> validator_text_;
};

TEST_F(ScriptInterpreterTest, CommentsAndBlankLinesAreSkipped) {
  for (const char* source :
       {"", "   \t\r\n", "\n", "REM a remark", "REMARK: setup", "rem lower", "Rem", "# hash",
        "// slashes", "' quote", "  \t// indented", "REMOVE is a comment too"}) {
    EXPECT_TRUE(line(source)) << source;
  }
  EXPECT_TRUE(shown().empty());
  EXPECT_EQ(log_text(), "");
  EXPECT_FALSE(homing_state().homed) << "comments do not home";

  // A single slash is no comment prefix: the line is G-code and fails.
  EXPECT_FALSE(line("/ not a comment"));
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].caption, "Unknown GCode @ test.nc:7");
}

TEST_F(ScriptInterpreterTest, DepthKeywordIgnoresCaseAndReadsItsNumber) {
  EXPECT_TRUE(line("SET_WORK_SURFACE_DEPTH_BELOW_TOP_OF_Z 1.5"));
  EXPECT_EQ(axis_model_state().work_surface_depth, 1.5);
  EXPECT_TRUE(line("set_work_surface_depth_below_top_of_z   2.25  "));
  EXPECT_EQ(axis_model_state().work_surface_depth, 2.25);
  EXPECT_TRUE(line("set_work_surface_depth_below_top_of_z deep"));
  EXPECT_EQ(axis_model_state().work_surface_depth, 0.0);
  EXPECT_TRUE(shown().empty());

  // A depth whose Z home step count cannot be held stops the script.
  EXPECT_FALSE(line("set_work_surface_depth_below_top_of_z 99999999999"));
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_NE(shown()[0].caption.find("test.nc:7"), std::string::npos) << shown()[0].caption;
  EXPECT_EQ(axis_model_state().work_surface_depth, 0.0);
}

TEST_F(ScriptInterpreterTest, DirectionChangePausesTakeOneToThreeNumbers) {
  struct Case {
    const char* source;
    uint32_t a, b, c;
  };
  const Case cases[] = {
      {"set_chg_dirs_sleep_ms 5", 5, 5, 5},     {"set_chg_dirs_sleep_ms 5 7", 5, 7, 7},
      {"set_chg_dirs_sleep_ms 5  7", 5, 7, 7},  {"set_chg_dirs_sleep_ms 5,7", 5, 5, 5},
      {"set_chg_dirs_sleep_ms 5 7 9", 5, 7, 9}, {"set_chg_dirs_sleep_ms 5 7 9 11", 5, 7, 9},
      {"set_chg_dirs_sleep_ms 5 7,9", 5, 7, 7}, {"SET_CHG_DIRS_SLEEP_MS    3", 3, 3, 3},
      {"set_chg_dirs_sleep_ms none", 0, 0, 0},
  };
  for (const Case& c : cases) {
    direction_change_pauses(99, 99, 99);
    EXPECT_TRUE(line(c.source)) << c.source;
    const uint32_t* pauses = axis_model_state().direction_change_pauses;
    EXPECT_EQ(pauses[0], c.a) << c.source;
    EXPECT_EQ(pauses[1], c.b) << c.source;
    EXPECT_EQ(pauses[2], c.c) << c.source;
  }
  EXPECT_TRUE(shown().empty());
}

TEST_F(ScriptInterpreterTest, KeywordsWithoutTheirBlankAreGcode) {
  struct Case {
    const char* source;
    const char* text;
  };
  const Case cases[] = {
      {"include", "Invalid GCode @ test.nc:7:\r    include"},
      {"include   ", "Invalid GCode @ test.nc:7:\r    include"},
      {"includeother.nc", "Invalid GCode @ test.nc:7:\r    includeother.nc"},
      {"include\tother.nc", "Invalid GCode @ test.nc:7:\r    include\tother.nc"},
      {"set_chg_dirs_sleep_ms", "Invalid GCode @ test.nc:7:\r    set_chg_dirs_sleep_ms"},
  };
  for (const Case& c : cases) {
    forget_shown();
    EXPECT_FALSE(line(c.source)) << c.source;
    ASSERT_EQ(shown().size(), 1u) << c.source;
    EXPECT_EQ(shown()[0].caption, "Unknown GCode @ test.nc:7");
    EXPECT_EQ(shown()[0].text, c.text);
  }
}

TEST_F(ScriptInterpreterTest, UnknownGcodeMessageShowsTheLineAsLeftInPlace) {
  struct Case {
    const char* source;
    const char* shown_line;
  };
  const Case cases[] = {
      {"  \tG02 X1 Y1 (arc)  \r\n", "  \tG02 X1 Y1"},  // leading blanks kept
      {"N5 G03 X1 (arc)", "N5 G03 X1"},                // the N-word stays
      {"G90 G54 ; absolute", "G90 G54"},               // a ";" comment anywhere
      {"g01 x1", "g01 x1"},
      {"(feed) G02 X1 (arc) Y1", "G02 X1 Y1"},  // comments and their blanks go
      {"G02 %s%n%d", "G02 %s%n%d"},             // shown as text, never a format
  };
  for (const Case& c : cases) {
    forget_shown();
    std::string left;
    EXPECT_FALSE(line(c.source, &left)) << c.source;
    ASSERT_EQ(shown().size(), 1u) << c.source;
    EXPECT_EQ(shown()[0].caption, "Unknown GCode @ test.nc:7");
    EXPECT_EQ(shown()[0].text, std::string("Invalid GCode @ test.nc:7:\r    ") + c.shown_line);
    EXPECT_EQ(left, c.shown_line) << "the line is shortened in place";
  }
  EXPECT_EQ(log_text(), "") << "a line that does not translate neither logs nor homes";
}

TEST_F(ScriptInterpreterTest, ACommandWithoutValidatorFailsAfterItWasLogged) {
  load_validators("/^z_home /,/X/; /^xyz_linear_move_steps /,/^X$/");
  EXPECT_FALSE(line("  G01 X1.0 (go)"));
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].caption, "Unknown command @ test.nc:7");
  EXPECT_EQ(shown()[0].text, "Invalid command @ test.nc:7:\r      G01 X1.0");
  EXPECT_EQ(log_text(), std::string("x_move_steps r 607\n") + home_lines);

  forget_shown();
  EXPECT_TRUE(line("G01 X1 Y1"));
  EXPECT_TRUE(shown().empty());
}

TEST_F(ScriptInterpreterTest, MillimetresAndRelativeModeFailNamingFileAndLine) {
  for (const char* code : {"G21", "G91", "N30 G91 (relative)"}) {
    forget_shown();
    dir_.write("mode.nc", std::string("G20\nG90\n") + code + "\nG01 X1.0\n");
    EXPECT_FALSE(run("mode.nc")) << code;
    ASSERT_EQ(shown().size(), 1u) << code;
    EXPECT_NE(shown()[0].caption.find("mode.nc:3"), std::string::npos) << shown()[0].caption;
    EXPECT_NE(shown()[0].text.find("mode.nc:3"), std::string::npos) << shown()[0].text;
  }
  EXPECT_EQ(log_text().find("x_move_steps"), std::string::npos)
      << "nothing after the mode line ran";
}

TEST_F(ScriptInterpreterTest, AnOutOfRangeTargetFailsWithNothingLogged) {
  dir_.write("far.nc", "G01 X99999999999\nG01 X1.0\n");
  EXPECT_FALSE(run("far.nc"));
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_NE(shown()[0].caption.find("far.nc:1"), std::string::npos) << shown()[0].caption;
  EXPECT_NE(shown()[0].text.find("G01 X99999999999"), std::string::npos) << shown()[0].text;
  EXPECT_EQ(log_text(), "");
  EXPECT_EQ(axis_model_state().axes[axis_x].position_in, 0.0);
}

TEST_F(ScriptInterpreterTest, TheFirstTranslatedLineHomesEvenWithoutMotion) {
  EXPECT_TRUE(line("M3"));
  EXPECT_TRUE(homing_state().homed);
  EXPECT_FALSE(homing_state().scales_queried);
  EXPECT_EQ(log_text(), home_lines);
  const axis_model& model = axis_model_state();
  EXPECT_EQ(model.axes[axis_z].position_steps, 8440);
  EXPECT_EQ(model.axes[axis_z].envelope_min, 8440);
  EXPECT_EQ(model.axes[axis_z].envelope_max, 8440);
  EXPECT_EQ(model.axes[axis_x].position_steps, 0);
  EXPECT_TRUE(line("G04 P0"));
  EXPECT_EQ(log_text(), home_lines) << "homing happens once";
}

TEST_F(ScriptInterpreterTest, AFailureInsideAnIncludeNamesTheIncludedFile) {
  dir_.write("main.nc", "include bad.nc\nG01 X2.0\n");
  dir_.write("bad.nc", "G01 X1.0\nG02 X1 Y1\n");
  EXPECT_FALSE(run("main.nc"));
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].caption, "Unknown GCode @ bad.nc:2");
  EXPECT_EQ(log_text(), std::string("x_move_steps r 607\n") + home_lines);
}

TEST_F(ScriptInterpreterTest, AMissingFileFailsWithoutAMessage) {
  EXPECT_FALSE(run("nowhere.nc"));
  dir_.write("main.nc", "G01 X1.0\ninclude nowhere.nc\nG01 X2.0\n");
  EXPECT_FALSE(run("main.nc"));
  dir_.write("spaced.nc", "include  main.nc\n");  // the path is " main.nc"
  EXPECT_FALSE(run("spaced.nc"));
  EXPECT_TRUE(shown().empty());
  EXPECT_EQ(log_text(), std::string("x_move_steps r 607\n") + home_lines);
}

TEST_F(ScriptInterpreterTest, SelfIncludingFilesStopWithAMessage) {
  dir_.write("self.nc", "REM loops\ninclude self.nc\n");
  EXPECT_FALSE(run("self.nc"));
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_NE(shown()[0].caption.find("self.nc:2"), std::string::npos) << shown()[0].caption;

  forget_shown();
  dir_.write("a.nc", "include b.nc\n");
  dir_.write("b.nc", "M3\ninclude a.nc\n");
  EXPECT_FALSE(run("a.nc"));
  EXPECT_EQ(shown().size(), 1u);

  // The interpreter is usable after the deep failure; the keyword ignores case.
  forget_shown();
  dir_.write("fine.nc", "G01 Y1.0\n");
  dir_.write("upper.nc", "INCLUDE fine.nc\n");
  EXPECT_TRUE(run("upper.nc"));
  EXPECT_TRUE(shown().empty());
  EXPECT_EQ(log_text(), std::string(home_lines) + "y_move_steps t 607\n");
}

TEST_F(ScriptInterpreterTest, LinesIncludesAndTheDepthAsAJobMeansThem) {
  // A physical line is one line; only a comment line may be longer than
  // 2047 characters. An include of what is no regular file stops the run
  // as a missing one does. The depth belongs before the homing.
  std::string move_2047 = "G01 X1.0";
  move_2047 += std::string(2047 - move_2047.size(), ' ');
  ASSERT_EQ(mkdir(dir_.file("folder").c_str(), 0700), 0);
  const std::string moved = std::string("x_move_steps r 607\n") + home_lines;
  struct job_case {
    const char* name;
    std::string script;
    bool ok;
    const char* caption;
    std::string log;
  };
  const job_case cases[] = {
      {"long_comment_then_m3", "REM" + std::string(2044, 'a') + "M3\nG02 X1\n", false,
       "Unknown GCode @ job.nc:2", ""},
      {"long_indented_comment", "  // " + std::string(5000, 'x') + "\nG01 X1.0\n", true, "", moved},
      {"comment_tail_is_not_a_move", "G01 X1 (" + std::string(3000, 'a') + " Y5)\nG01 X2\n", false,
       "Line too long @ job.nc:1", ""},
      {"exactly_2047", move_2047 + "\nG02 X1\n", false, "Unknown GCode @ job.nc:2", moved},
      {"include_folder", "include folder\nG01 X1.0\n", false, "", ""},
      {"include_device", "include /dev/zero\nG01 X1.0\n", false, "", ""},
      {"depth_before_homing", "set_work_surface_depth_below_top_of_z 1.5\n", true, "", ""},
      {"depth_after_homing", "G01 X1.0\nset_work_surface_depth_below_top_of_z 1.5\n", false,
       "Depth after homing @ job.nc:2", moved},
  };
  for (const job_case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_run_state();
    load_validators(builtin_validator_text);
    open_translation_log();
    forget_shown();
    dir_.write("job.nc", c.script);
    EXPECT_EQ(run("job.nc"), c.ok);
    std::vector<std::string> captions;
    for (const recorded_message& m : shown()) captions.push_back(m.caption);
    EXPECT_EQ(captions,
              *c.caption ? std::vector<std::string>{c.caption} : std::vector<std::string>{});
    EXPECT_EQ(log_text(), c.log);
  }
  EXPECT_EQ(axis_model_state().work_surface_depth, 2.11) << "the late depth was not taken";
}

TEST_F(ScriptInterpreterTest, LongPathsAndLinesAreCutToTheMessageBuffers) {
  std::string path;
  for (int i = 0; i < 600; ++i) path += "./";
  path += "q.nc";
  dir_.write("q.nc", std::string(2046, 'Q') + "\n");
  EXPECT_FALSE(run(path));
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].caption.size(), sizeof(message_buffers::caption) - 1);
  EXPECT_EQ(shown()[0].caption.rfind("Unknown GCode @ ././", 0), 0u);
  EXPECT_EQ(shown()[0].text.size(), sizeof(message_buffers::text) - 1);
  EXPECT_EQ(shown()[0].text.rfind("Invalid GCode @ ././", 0), 0u);
}

TEST(ScriptPathOf, TakesTheRestAfterTheProgramName) {
  struct Case {
    const char* command_line;
    const char* path;
  };
  const Case cases[] = {
      {"millrun job.nc", "job.nc"},
      {"\"C:\\Program Files\\millrun.exe\" job.nc", "job.nc"},
      {"\"C:\\Program Files\\millrun.exe\"job.nc", "job.nc"},
      {"millrun   job.nc  ", "job.nc  "},  // trailing blanks kept
      {"millrun\tjob.nc", "job.nc"},
      {"millrun \"my job.nc\"", "\"my job.nc\""},  // quotes kept
      {"millrun a b", "a b"},                      // not split into words
      {"millrun", ""},
      {"millrun   ", ""},
      {"\"unclosed name job.nc", ""},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(script_path_of(c.command_line), c.path) << c.command_line;
}

TEST_F(ScriptInterpreterTest, TrailingBlanksOfTheCommandLineArePartOfThePath) {
  dir_.write("job.nc ", "G01 X-1.0\n");
  testing::internal::CaptureStdout();
  const int exit_code = run_program("millrun job.nc ");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(exit_code, 0);
  EXPECT_EQ(log_text(), std::string("x_move_steps l 607\n") + home_lines);
}

}  // namespace
