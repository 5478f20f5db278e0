// End-to-end tests of the real millrun binary in dry-run mode: each test runs
// the program in a fresh folder and compares its exit code, both output
// files (whole, byte for byte), standard output and standard error.
//
// Expected texts are worked out by hand from the machine's conversion rules
// with the default scales (X and Y 1024 steps per 1.688", Z 4000 steps per
// inch, Z home 2.11" = 8440 steps), never pasted from a run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

const std::string millrun = MILLRUN_BINARY;
const std::string source_dir = MILLRUN_SOURCE_DIR;

const char log_name[] = "KelCodeOutput.txt";
const char report_name[] = "EnvelopeReport.txt";

// ---------------------------------------------------------------------------
// The validator listing: two trace lines per entry of the built-in table.

struct validator_row {
  const char* command;
  bool command_caret;
  bool command_dollar;
  const char* response;
  bool response_caret;
  bool response_dollar;
};

const validator_row builtin_validators[] = {
    {"xyz_home ", true, false, "X", true, true},
    {"x_home ", true, false, "\"/1000", false, true},
    {"y_home ", true, false, "\"/1000", false, true},
    {"z_home ", true, false, "\"/1000", false, true},
    {"x_move ", true, false, "X", true, true},
    {"y_move ", true, false, "X", true, true},
    {"z_move ", true, false, "X", true, true},
    {"xyz_linear_move ", true, false, "X", true, true},
    {"set_milli_secs_per_step ", true, false, "X", true, true},
    {"get_native_axis_scale ", true, false, "\"/1000", false, true},
    {"cutout_blank ", true, false, "X", true, true},
    {"clear_xy_envelope ", true, false, "X", true, true},
    {"clear_xy_rect ", true, false, "X", true, true},
    {"xyz_linear_move_steps ", true, false, "X", true, true},
    {"x_home_steps ", true, false, " steps", false, true},
    {"y_home_steps ", true, false, " steps", false, true},
    {"z_home_steps ", true, false, " steps", false, true},
    {"x_move_steps ", true, false, "X", true, true},
    {"y_move_steps ", true, false, "X", true, true},
    {"z_move_steps ", true, false, "X", true, true},
};

std::string anchor_line(const char* kind, int index, bool caret, bool dollar, const char* text) {
  auto word = [](bool has) { return std::string(has ? "has a" : "has no"); };
  return std::string(kind) + " " + std::to_string(index) + " " + word(caret) +
         " starting caret, " + word(dollar) + " ending dollar sign, = \"" + text + "\"\n";
}

/// What every run prints first: the validator table, 40 lines.
std::string validator_listing() {
  std::string listing;
  int index = 0;
  for (const validator_row& row : builtin_validators) {
    listing += anchor_line("Command", index, row.command_caret, row.command_dollar, row.command);
    listing += anchor_line("Validator", index, row.response_caret, row.response_dollar,
                           row.response);
    ++index;
  }
  return listing;
}

// ---------------------------------------------------------------------------
// Output files.

const std::string home_lines = "x_home l\ny_home b\nz_home u\n";

/// The report's last five lines: the default feed rates and no recovery.
const std::string default_feed_lines =
    "Feed Rates: X       = 9.89062500\"/minute\n"
    "Feed Rates: Y       = 9.89062500\"/minute\n"
    "Feed Rates: Z       = 1.50000000\"/minute\n"
    "Feed Rates: XYZ_MAX = 14.06765531\"/minute\n"
    "Milling Resumed 0 times\n";

/// A dry-run report from its three envelope lines.
std::string report(const std::string& x, const std::string& y, const std::string& z) {
  return x + "\n" + y + "\n" + z + "\n" + default_feed_lines;
}

const std::string x_zero = "X: MIN = 00000000 steps, MAX = 00000000 steps";
const std::string y_zero = "Y: MIN = 00000000 steps, MAX = 00000000 steps";
const std::string z_zero = "Z: MIN = 00000000 steps, MAX = 00000000 steps";
const std::string z_home = "Z: MIN = 00008440 steps, MAX = 00008440 steps";

/// A run that never homed: nothing moved, nothing was measured.
const std::string zero_report = report(x_zero, y_zero, z_zero);
/// A run that homed and, as a dry run does, stayed at home.
const std::string home_report = report(x_zero, y_zero, z_home);

// ---------------------------------------------------------------------------
// Running the program.

process_result run_millrun(const temp_dir& dir, const std::vector<std::string>& args,
                           int timeout_ms = 20000) {
  std::vector<std::string> argv{millrun};
  argv.insert(argv.end(), args.begin(), args.end());
  process_result r = run_process(argv, dir.path(), {}, timeout_ms);
  EXPECT_FALSE(r.timed_out) << "millrun did not finish";
  return r;
}

/// Writes `script` as job.nc and runs it.
process_result run_script(const temp_dir& dir, const std::string& script,
                          int timeout_ms = 20000) {
  dir.write("job.nc", script);
  return run_millrun(dir, {"job.nc"}, timeout_ms);
}

/// The trace of one line that was translated and (in a dry run) accepted.
std::string trace(const std::string& gcode, const std::string& command) {
  return "gCode: " + gcode + "\nCMD: " + command + "\n";
}

/// The two lines of a message on standard error for a failed script line:
/// the caption, then the text, whose carriage return starts a new line.
std::string unknown_gcode_message(const std::string& where, const std::string& line) {
  return "Unknown GCode @ " + where + "\nInvalid GCode @ " + where + ":\n    " + line + "\n";
}

/// The line after the message of a refused line that millprep converts.
std::string convert_hint(const std::string& script, const std::string& output) {
  return "convert CAM output first: millprep " + script + " -o " + output + "\n";
}

void copy_example(const temp_dir& dir, const std::string& name) {
  std::string text = read_file(source_dir + "/examples/" + name);
  ASSERT_FALSE(text.empty()) << "missing example " << name;
  dir.write(name, text);
}

bool contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// ---------------------------------------------------------------------------
// Comments, homing and the basic dry run.

TEST(DryRun, WholeLineCommentsLeaveAnEmptyLogAndAZeroReport) {
  const char* scripts[] = {
      "",
      "\n"
      "   \t  \n"
      "// slashes\n"
      "' apostrophe\n"
      "# hash\n"
      "REM upper\n"
      "rem lower\n"
      "REMARK counts as REM\n"
      "\t  # indented\n"
      "// CRLF line end\r\n"
      "set_chg_dirs_sleep_ms 5\n"
      "set_chg_dirs_sleep_ms 5  7\n"
      "SET_CHG_DIRS_SLEEP_MS 5,7\n",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    temp_dir dir;
    process_result r = run_script(dir, script);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name), "");
    EXPECT_EQ(dir.read(report_name), zero_report);
    EXPECT_EQ(r.out, validator_listing());
    EXPECT_EQ(without_estimate(r.err), "");
  }
}

TEST(DryRun, SemicolonAndParenthesisCommentsHomeTheRun) {
  const char* scripts[] = {
      ";\n",
      "; first\n; second\n;third\n",
      "(fixture check)\n",
      "   ; indented\n",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    temp_dir dir;
    process_result r = run_script(dir, script);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name), home_lines);
    EXPECT_EQ(dir.read(report_name), home_report);
    EXPECT_EQ(r.out, validator_listing());
    EXPECT_EQ(without_estimate(r.err), "");
  }
}

TEST(DryRun, FirstTargetIsLostToHomingInTheRecord) {
  // The first motion line is composed from the start position, homing
  // follows, and the record then stays at home: the second line is measured
  // from X 0 again (2.0" = 1213 steps), not from 1.0".
  struct Case {
    const char* name;
    const char* script;
    const char* first_trace;
    const char* second_trace;
  };
  const Case cases[] = {
      {"plain", "G01 X1.0\nG01 X2.0\n", "G01 X1.0", "G01 X2.0"},
      {"crlf", "G01 X1.0\r\nG01 X2.0\r\n", "G01 X1.0", "G01 X2.0"},
      {"blanks", "  \tG01 X1.0 \t \nG01 X2.0   \n", "G01 X1.0", "G01 X2.0"},
      {"short words", "G1 X1.0\nG0 X2.0\n", "G1 X1.0", "G0 X2.0"},
      {"modal", "G00 X1.0\nX2.0\n", "G00 X1.0", "X2.0"},
      {"numbered", "N10 G01 X1.0\nN20G01 X2.0\n", "N10 G01 X1.0", "N20G01 X2.0"},
      {"end comments", "G01 X1.0 (first)\nG01 X2.0\t(second)\n", "G01 X1.0", "G01 X2.0"},
      {"semicolon after operand", "G01 X1.0 ; first\nG01 X2.0\n", "G01 X1.0", "G01 X2.0"},
      {"no final line end", "G01 X1.0\nG01 X2.0", "G01 X1.0", "G01 X2.0"},
      {"zero padded", "G01 X000000000000000000000000000000000000001.0\nG01 X2.0\n",
       "G01 X000000000000000000000000000000000000001.0", "G01 X2.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    temp_dir dir;
    process_result r = run_script(dir, c.script);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name), "x_move_steps r 607\n" + home_lines + "x_move_steps r 1213\n");
    EXPECT_EQ(dir.read(report_name),
              report("X: MIN = 00000000 steps, MAX = 00001213 steps", y_zero, z_home));
    EXPECT_EQ(r.out, validator_listing() + trace(c.first_trace, "x_move_steps r 607") +
                         trace(c.second_trace, "x_move_steps r 1213"));
    EXPECT_EQ(without_estimate(r.err), "");
  }
}

TEST(DryRun, EachCommandFormFromTheHomePosition) {
  temp_dir dir;
  process_result r = run_script(dir,
                                ";\n"
                                "G01 X1.0 Y0.5\n"
                                "G01 Z2.0\n"
                                "G00 Z2.11\n"
                                "G00 X0\n"
                                "G01 X1.0\n"
                                "G01 X1.0\n"
                                "G01 X0.0 Y0.0\n"
                                "G01 Y0.5\n"
                                "G01 Y0.0\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(dir.read(log_name), home_lines +
                                    "xyz_linear_move_steps xy rt 607,303\n"
                                    "z_move_steps d 440\n"
                                    "z_home u\n"
                                    "x_home l\n"
                                    "x_move_steps r 607\n"
                                    "xyz_linear_move_steps xy lb 607,303\n"
                                    "y_move_steps t 303\n"
                                    "y_home b\n");
  EXPECT_EQ(dir.read(report_name), report("X: MIN = 00000000 steps, MAX = 00000607 steps",
                                          "Y: MIN = 00000000 steps, MAX = 00000303 steps",
                                          "Z: MIN = 00008000 steps, MAX = 00008440 steps"));
  // The repeated X1.0 moves nothing and leaves no trace.
  EXPECT_EQ(r.out, validator_listing() +
                       trace("G01 X1.0 Y0.5", "xyz_linear_move_steps xy rt 607,303") +
                       trace("G01 Z2.0", "z_move_steps d 440") +
                       trace("G00 Z2.11", "z_home u") +
                       trace("G00 X0", "x_home l") +
                       trace("G01 X1.0", "x_move_steps r 607") +
                       trace("G01 X0.0 Y0.0", "xyz_linear_move_steps xy lb 607,303") +
                       trace("G01 Y0.5", "y_move_steps t 303") +
                       trace("G01 Y0.0", "y_home b"));
}

TEST(DryRun, NegativePositionsAreReportedWithTheirSign) {
  temp_dir dir;
  process_result r = run_script(dir, ";\nG01 X-1.0\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(dir.read(log_name), home_lines + "x_move_steps l 607\n");
  EXPECT_EQ(dir.read(report_name),
            report("X: MIN = -00000607 steps, MAX = 00000000 steps", y_zero, z_home));
}

// ---------------------------------------------------------------------------
// Keywords.

TEST(DryRun, WorkSurfaceDepthMovesTheZHomePosition) {
  {
    temp_dir dir;
    process_result r = run_script(dir, "set_work_surface_depth_below_top_of_z 1.0\n;\n");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name), home_lines);
    EXPECT_EQ(dir.read(report_name),
              report(x_zero, y_zero, "Z: MIN = 00004000 steps, MAX = 00004000 steps"));
  }
  {
    // A Z-only move to the new depth is the Z home command; one to 2.11 is
    // an ordinary move (8440 - 4000 = 4440 steps up).
    temp_dir dir;
    process_result r = run_script(dir,
                                  "SET_WORK_SURFACE_DEPTH_BELOW_TOP_OF_Z 1.0\n"
                                  "G20\n"
                                  "G01 Z0.5\n"
                                  "G00 Z1.0\n"
                                  "G01 Z2.11\n");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name),
              home_lines + "z_move_steps d 2000\nz_home u\nz_move_steps u 4440\n");
    EXPECT_EQ(dir.read(report_name),
              report(x_zero, y_zero, "Z: MIN = 00002000 steps, MAX = 00008440 steps"));
  }
}

TEST(DryRun, IncludePathsAreTakenFromTheWorkingDirectory) {
  temp_dir dir;
  std::filesystem::create_directory(dir.file("sub"));
  dir.write("sub/job.nc", "G01 X1.0\ninclude holes.nc\nG01 X2.0\n");
  dir.write("holes.nc", "G01 Y0.5\n");
  dir.write("sub/holes.nc", "G02 X1 Y1\n");  // beside the includer: not the one meant
  process_result r = run_millrun(dir, {"sub/job.nc"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(dir.read(log_name),
            "x_move_steps r 607\n" + home_lines + "y_move_steps t 303\nx_move_steps r 1213\n");
  EXPECT_EQ(without_estimate(r.err), "");
}

TEST(DryRun, MissingIncludeFileStopsTheRun) {
  temp_dir dir;
  process_result r = run_script(dir, "G01 X1.0\ninclude nowhere.nc\nG01 X2.0\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(dir.read(log_name), "x_move_steps r 607\n" + home_lines);
  EXPECT_EQ(dir.read(report_name), home_report);
  EXPECT_EQ(r.out, validator_listing() + trace("G01 X1.0", "x_move_steps r 607"));
}

TEST(DryRun, FileThatIncludesItselfStopsWithAMessage) {
  {
    temp_dir dir;
    dir.write("self.nc", "include self.nc\n");
    process_result r = run_millrun(dir, {"self.nc"});
    EXPECT_EQ(r.exit_code, 1);  // an exit, not a crash
    EXPECT_TRUE(contains(r.err, "self.nc:1")) << r.err;
    EXPECT_TRUE(contains(r.err, "include self.nc")) << r.err;
    EXPECT_EQ(dir.read(log_name), "");
    EXPECT_EQ(dir.read(report_name), zero_report);
  }
  {
    temp_dir dir;
    dir.write("a.nc", "G01 X1.0\ninclude b.nc\n");
    dir.write("b.nc", "// b\ninclude a.nc\n");
    process_result r = run_millrun(dir, {"a.nc"});
    EXPECT_EQ(r.exit_code, 1);
    // The 33rd file open is a.nc again (a, b, a, ...): its include stops.
    EXPECT_TRUE(contains(r.err, "a.nc:2")) << r.err;
    EXPECT_TRUE(contains(r.err, "include b.nc")) << r.err;
  }
}

TEST(DryRun, IncludesNestThirtyTwoDeep) {
  // n0 includes n1, ..., n(depth-1) includes n(depth), which moves X.
  for (int depth : {32, 33}) {
    SCOPED_TRACE(depth);
    temp_dir dir;
    for (int i = 0; i < depth; ++i)
      dir.write("n" + std::to_string(i) + ".nc", "include n" + std::to_string(i + 1) + ".nc\n");
    dir.write("n" + std::to_string(depth) + ".nc", "G01 X1.0\n");
    process_result r = run_millrun(dir, {"n0.nc"});
    if (depth == 32) {
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(dir.read(log_name), "x_move_steps r 607\n" + home_lines);
      EXPECT_EQ(without_estimate(r.err), "");
    } else {
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(dir.read(log_name), "");
      EXPECT_TRUE(contains(r.err, "n32.nc:1")) << r.err;
    }
  }
}

// ---------------------------------------------------------------------------
// Lines that stop the run.

TEST(DryRun, UnknownGCodeStopsAtItsLineWithAMessageNamingFileAndLine) {
  // G words millprep converts bring the advice to convert the job first.
  struct Case { const char* line; const char* shown; bool hint; };
  const Case cases[] = {
      {"G02 X1 Y1 I0.5 J0", "G02 X1 Y1 I0.5 J0", true},  // arcs
      {"G03 X1 Y1 R0.5", "G03 X1 Y1 R0.5", true},
      {"g01 x1", "g01 x1", true},               // lower case
      {"G90 G54", "G90 G54", true},             // not a whole ignored line
      {"G01 X1 (no end", "G01 X1", false},      // a comment that is not closed
      {"include", "include", false},            // the keyword needs its blank
      {"G17", "G17", true},                     // a code outside the dialect
      {"G01 (X1)", "G01", true},                // the comment left nothing to move
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    temp_dir dir;
    process_result r = run_script(dir, std::string("G01 X1.0\n") + c.line + "\nG01 X2.0\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, unknown_gcode_message("job.nc:2", c.shown) +
                         (c.hint ? convert_hint("job.nc", "job_millrun.nc") : ""));
    EXPECT_EQ(dir.read(log_name), "x_move_steps r 607\n" + home_lines);
    EXPECT_EQ(dir.read(report_name), home_report);
    EXPECT_EQ(r.out, validator_listing() + trace("G01 X1.0", "x_move_steps r 607"));
  }
}

TEST(DryRun, UnknownGCodeMessageKeepsLeadingBlanksAndDropsTheEndComment) {
  temp_dir dir;
  process_result r = run_script(dir, "// header\n  \tN20 G02 X1 Y1 (arc)  \r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, unknown_gcode_message("job.nc:2", "  \tN20 G02 X1 Y1") +
                       convert_hint("job.nc", "job_millrun.nc"));
  EXPECT_EQ(dir.read(log_name), "");
  EXPECT_EQ(dir.read(report_name), zero_report);
}

TEST(DryRun, MillimetresAndRelativeCoordinatesAreRejected) {
  struct Case { const char* line; const char* shown; };
  const Case cases[] = {
      {"G21", "G21"},
      {"G91", "G91"},
      {"N30 G21 (metric)", "N30 G21"},
      {"G21 G90 G64 G40", "G21 G90 G64 G40"},
      {"G21 ; millimetres", "G21"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    temp_dir dir;
    process_result r = run_script(dir, std::string("G01 X1.0\n") + c.line + "\nG01 X2.0\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(contains(r.err, "job.nc:2")) << r.err;
    EXPECT_TRUE(contains(r.err, std::string("\n    ") + c.shown + "\n")) << r.err;
    EXPECT_EQ(dir.read(log_name), "x_move_steps r 607\n" + home_lines);
    EXPECT_EQ(r.out, validator_listing() + trace("G01 X1.0", "x_move_steps r 607"));
  }
}

TEST(DryRun, AxisWordsThatWouldBeDroppedOrMisreadStopTheLine) {
  // Each form once end to end (the composer's table holds the rest): the
  // message names the line, nothing is logged for it, the run stops.
  // Words in an order millprep puts right bring the advice to convert.
  struct Case { const char* line; bool hint; };
  const Case cases[] = {
      {"G01 X1 F10 Y3", true}, {"G00 Z   0.200", false}, {"G0 G90 X2 Y2", true}, {"X0Y0", false}};
  for (const Case& c : cases) {
    const char* line = c.line;
    SCOPED_TRACE(line);
    temp_dir dir;
    process_result r = run_script(dir, std::string("G20\nG01 X1.0\n") + line + "\nG01 X2.0\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("Unsupported GCode @ job.nc:3\nUnsupported GCode @ job.nc:3:\n    ") +
                         line +
                         "\nmillrun reads X, Y and Z in that order, each at most one blank after "
                         "the last and followed directly by a plain number (1.5, -0.25); the rest "
                         "of this line would be lost.\n" +
                         (c.hint ? convert_hint("job.nc", "job_millrun.nc") : ""));
    EXPECT_EQ(dir.read(log_name), home_lines + "x_move_steps r 607\n");
  }
}

TEST(DryRun, StopsMidJobAndCamOutputAreToldInFull) {
  // A tool change once the job has moved: the message says how to split the
  // job, and millprep's conversion is no help there.
  temp_dir dir;
  process_result r = run_script(dir, "G20\nT1 M6\nG01 X1.0\nN40 T2 M06 (drill)\nG01 X2.0\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "Unsupported GCode @ job.nc:4\nUnsupported GCode @ job.nc:4:\n    N40 T2 M06\n"
            "A program stop or tool change (M0, M1, M6, M60) once the job has moved is not "
            "carried out: the job would go on cutting. Split the job at its stops and tool "
            "changes with millprep --split-tools and run the parts one by one.\n");
  EXPECT_EQ(dir.read(log_name), home_lines + "x_move_steps r 607\n");

  // Millimetres in a file of a folder: the advice names the file and an
  // output beside it.
  std::filesystem::create_directory(dir.path() + "/cam");
  dir.write("cam/part.nc", "G20\nG21\n");
  r = run_millrun(dir, {"cam/part.nc"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Unsupported GCode @ cam/part.nc:2\nUnsupported GCode @ cam/part.nc:2:\n    "
                   "G21\nmillrun takes inches (G20) and absolute coordinates (G90) only.\n" +
                       convert_hint("cam/part.nc", "cam/part_millrun.nc"));
}

TEST(DryRun, MessagesNameTheLineAnEditorShows) {
  // CR LF and CR CR LF end one line each; a lone CR ends one too.
  for (const char* end : {"\n", "\r\n", "\r\r\n", "\r"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    temp_dir dir;
    const std::string e = end;
    process_result r = run_script(dir, "G20" + e + "G01 X1.0" + e + "G02 X1" + e);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, unknown_gcode_message("job.nc:3", "G02 X1") +
                         convert_hint("job.nc", "job_millrun.nc"));
  }
}

TEST(DryRun, TargetBeyondTheStepRangeFailsAndLogsNothingForIt) {
  const char* lines[] = {
      "G01 X99999999999",
      "G01 X1.0 Y-99999999999",  // the in-range X is not logged either
      "Z99999999999",
      "G01 X3540000",  // the least whole inch count past 2147483647 steps
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    temp_dir dir;
    process_result r = run_script(dir, std::string("G01 X1.0\n") + line + "\nG01 X2.0\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(contains(r.err, "job.nc:2")) << r.err;
    EXPECT_TRUE(contains(r.err, line)) << r.err;
    EXPECT_EQ(dir.read(log_name), "x_move_steps r 607\n" + home_lines);
    EXPECT_EQ(dir.read(report_name), home_report);
    EXPECT_EQ(r.out, validator_listing() + trace("G01 X1.0", "x_move_steps r 607"));
  }
}

TEST(DryRun, StepDifferenceBeyondTheStepRangeFails) {
  // Both ends fit (3539000" is 2146881517 steps), the way between them
  // does not.
  temp_dir dir;
  process_result r = run_script(dir, ";\nG01 X-3539000\nG01 X3539000\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(contains(r.err, "job.nc:3")) << r.err;
  EXPECT_EQ(dir.read(log_name), home_lines + "x_move_steps l 2146881517\n");
  EXPECT_EQ(dir.read(report_name),
            report("X: MIN = -2146881517 steps, MAX = 00000000 steps", y_zero, z_home));
}

TEST(DryRun, LongLineIsOneLine) {
  {
    // Physical line 1 is 2047 characters of move and blanks, then a second
    // move: too long, refused whole; nothing of it runs.
    std::string first = "G01 X1.0";
    first += std::string(2047 - first.size(), ' ');
    temp_dir dir;
    process_result r = run_script(dir, first + "G01 X2.0\nG02 X1 Y1\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(dir.read(log_name), "");
    EXPECT_EQ(r.err.rfind("Line too long @ job.nc:1\n", 0), 0u) << r.err;
  }
  {
    // An over-long comment line is skipped whole.
    std::string comment = "REM ";
    comment += std::string(2047 - comment.size(), 'x');
    temp_dir dir;
    process_result r = run_script(dir, comment + "G01 X1.0\n");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name), "");
  }
}

TEST(DryRun, OverlongMessageIsCutNotOverrun) {
  // A long path and a 2047-character line make a message text longer than
  // its 2304-byte buffer: it is cut, and the run ends normally.
  temp_dir dir;
  std::string folder = std::string(200, 'a') + "/" + std::string(200, 'b');
  std::filesystem::create_directories(dir.file(folder));
  std::string line = "G02 X1 Y1";
  line += std::string(2047 - line.size(), 'J');
  const std::string path = folder + "/job.nc";
  dir.write(path, line + "\n");
  process_result r = run_millrun(dir, {path});
  EXPECT_EQ(r.exit_code, 1);
  const std::string caption = "Unknown GCode @ " + path + ":1\n";
  EXPECT_EQ(r.err.rfind(caption, 0), 0u);
  const std::string text_start = "Invalid GCode @ " + path + ":1:\n    G02 X1 Y1JJJ";
  EXPECT_EQ(r.err.compare(caption.size(), text_start.size(), text_start), 0);
  // The advice to convert the arc follows the message on a line of its own.
  const std::string hint = convert_hint(path, folder + "/job_millrun.nc");
  ASSERT_GE(r.err.size(), hint.size());
  EXPECT_EQ(r.err.substr(r.err.size() - hint.size()), hint);
  EXPECT_LE(r.err.size() - hint.size(), caption.size() + 2304);
  EXPECT_EQ(dir.read(report_name), zero_report);
}

// ---------------------------------------------------------------------------
// Dwell.

TEST(DryRun, DwellIsNoMotionAndAnOutOfRangeValueWaitsNothing) {
  // P100 really waits 0.1 s; the negative values would wait for days if
  // taken as unsigned, so a short time limit tells they were not.
  const char* scripts[] = {
      "G04 P100\n",
      "G04 P0\n",
      "G04 P-1\n",
      "G04 P-1e12\n",
      "N5 G04 P-4294967296 (negative)\n",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    temp_dir dir;
    process_result r = run_script(dir, script, 5000);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name), home_lines);
    EXPECT_EQ(dir.read(report_name), home_report);
    EXPECT_EQ(r.out, validator_listing());
    EXPECT_EQ(without_estimate(r.err), "");
  }
}

// ---------------------------------------------------------------------------
// The command line.

TEST(DryRun, MissingScriptStillWritesTheReport) {
  const std::vector<std::vector<std::string>> command_lines = {
      {"absent.nc"},
      {"."},  // a folder, not a file
      {},     // no script named at all
  };
  for (const auto& args : command_lines) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    temp_dir dir;
    process_result r = run_millrun(dir, args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(dir.exists(log_name));
    EXPECT_EQ(dir.read(log_name), "");
    EXPECT_EQ(dir.read(report_name), zero_report);
    EXPECT_EQ(r.out, validator_listing());
  }
}

TEST(DryRun, QuotedPathKeepsItsQuotesAndIsNotFound) {
  temp_dir dir;
  dir.write("job.nc", "G01 X1.0\n");
  process_result r = run_millrun(dir, {"\"job.nc\""});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(dir.read(log_name), "");
  EXPECT_EQ(dir.read(report_name), zero_report);
}

TEST(DryRun, BlanksInTheScriptPathAndTheProgramPath) {
  const std::string expected_log = "x_move_steps r 607\n" + home_lines;
  {
    temp_dir dir;
    dir.write("my job.nc", "G01 X1.0\n");
    process_result r = run_millrun(dir, {"my job.nc"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name), expected_log);
  }
  {
    // The program's own name has a blank: it must not eat into the path.
    temp_dir dir;
    std::filesystem::create_directory(dir.file("bin dir"));
    std::filesystem::create_symlink(millrun, dir.file("bin dir/millrun"));
    dir.write("job.nc", "G01 X1.0\n");
    process_result r = run_process({dir.file("bin dir/millrun"), "job.nc"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dir.read(log_name), expected_log);
  }
}

TEST(DryRun, HelpAndVersionWriteNoFiles) {
  struct Case { const char* option; const char* expected_start; };
  const Case cases[] = {
      {"--help", "Usage: millrun SCRIPT\n"},
      {"--version", "millrun "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    temp_dir dir;
    process_result r = run_millrun(dir, {c.option});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind(c.expected_start, 0), 0u) << r.out;
    EXPECT_EQ(without_estimate(r.err), "");
    EXPECT_FALSE(dir.exists(log_name));
    EXPECT_FALSE(dir.exists(report_name));
  }
}

TEST(DryRun, SecondRunReplacesBothFiles) {
  temp_dir dir;
  dir.write("move.nc", "G01 X1.0\nG01 X2.0\n");
  dir.write("quiet.nc", "// nothing\n");
  ASSERT_EQ(run_millrun(dir, {"move.nc"}).exit_code, 0);
  ASSERT_EQ(dir.read(log_name), "x_move_steps r 607\n" + home_lines + "x_move_steps r 1213\n");
  process_result r = run_millrun(dir, {"quiet.nc"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(dir.read(log_name), "");
  EXPECT_EQ(dir.read(report_name), zero_report);
}

// ---------------------------------------------------------------------------
// The bundled examples, run the way `make demo` runs them: copied flat into
// one folder and named without a directory.

TEST(DryRunExamples, DemoRunsToItsEnd) {
  temp_dir dir;
  copy_example(dir, "demo.nc");
  copy_example(dir, "demo_holes.nc");
  process_result r = run_millrun(dir, {"demo.nc"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(without_estimate(r.err), "");

  // The first G-code line only homes; the job ends with Z and X sent home
  // and the table parked at Y 1.9" (1153 steps), coming from Y 1.0" (607).
  std::string log = dir.read(log_name);
  EXPECT_EQ(log.rfind(home_lines, 0), 0u);
  const std::string tail = "z_home u\nx_home l\ny_move_steps t 546\n";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);

  // Every motion command was traced and logged once, in the same order.
  std::string traced;
  size_t commands = 0;
  for (size_t at = r.out.find("\nCMD: "); at != std::string::npos;
       at = r.out.find("\nCMD: ", at + 1)) {
    size_t end = r.out.find('\n', at + 1);
    traced += r.out.substr(at + 6, end - at - 6) + "\n";
    ++commands;
  }
  EXPECT_EQ(log, home_lines + traced);
  EXPECT_GT(commands, 250u);

  // Pocket and holes stay on the plate: X up to 2.25" (1365 steps), Y up to
  // the parking place at 1.9" (1153 steps), Z down to 1.75" (7000 steps)
  // from home at 8440.
  EXPECT_EQ(dir.read(report_name), report("X: MIN = 00000000 steps, MAX = 00001365 steps",
                                          "Y: MIN = 00000000 steps, MAX = 00001153 steps",
                                          "Z: MIN = 00007000 steps, MAX = 00008440 steps"));
}

TEST(DryRunExamples, MillimetreJobIsRejectedAtItsG21Line) {
  temp_dir dir;
  copy_example(dir, "mistake_millimetres.nc");
  process_result r = run_millrun(dir, {"mistake_millimetres.nc"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(contains(r.err, "mistake_millimetres.nc:9")) << r.err;
  EXPECT_TRUE(contains(r.err, "\n    G21\n")) << r.err;
  // G20 homed the run; nothing moved before the G21 line stopped it.
  EXPECT_EQ(dir.read(log_name), home_lines);
  EXPECT_EQ(dir.read(report_name), home_report);
}

TEST(DryRunExamples, ArcJobIsRejectedAtItsG02Line) {
  temp_dir dir;
  copy_example(dir, "mistake_arc.nc");
  process_result r = run_millrun(dir, {"mistake_arc.nc"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, unknown_gcode_message("mistake_arc.nc:12",
                                         "G02 X1.5000 Y1.0000 I0.0000 J0.5000") +
                       convert_hint("mistake_arc.nc", "mistake_arc_millrun.nc"));
  EXPECT_EQ(dir.read(log_name),
            home_lines + "z_move_steps d 440\nxyz_linear_move_steps xy rt 607,303\n");
  EXPECT_EQ(dir.read(report_name), report("X: MIN = 00000000 steps, MAX = 00000607 steps",
                                          "Y: MIN = 00000000 steps, MAX = 00000303 steps",
                                          "Z: MIN = 00008000 steps, MAX = 00008440 steps"));
}

}  // namespace

namespace {

TEST(DryRunEstimate, EndsWithTheMachineTimeOfTheJob) {
  struct estimate_case { const char* script; const char* line; };
  // Worked by hand at 10 ms a step and 10 bits a byte at 9600 baud; the
  // first homing's travel is unknown and counts its 3 exchanges of
  // "z_home u" etc. with a 6-character reply and CR LF (3 x 17 bytes):
  //   G01 X1.0: 607 steps = 6.07 s, plus (51 + 19 + 3) bytes = 76 ms -> 0:00:06
  //   G04 P300 twice: 0.6 s of dwell plus 53 ms of homing -> 0:00:01 (a short
  //   dwell, since a dry run waits it out)
  //   G01 Z1.0 from Z 2.11: 4440 steps = 44.4 s, then G00 Z2.11 back (z_home u):
  //   4440 steps more = 88.8 s, plus (51 + 23 + 17) bytes = 95 ms -> 88.9 s,
  //   rounded to the nearest second -> 0:01:29
  const estimate_case cases[] = {
      {"G20\nG01 X1.0\n", "Estimated machine time: 0:00:06 (h:mm:ss)\n"},
      {"G20\nG04 P300\nG04 P300\n", "Estimated machine time: 0:00:01 (h:mm:ss)\n"},
      {"G20\nG01 Z1.0\nG00 Z2.11\n", "Estimated machine time: 0:01:29 (h:mm:ss)\n"},
  };
  for (const estimate_case& c : cases) {
    temp_dir dir;
    process_result r = run_script(dir, c.script);
    EXPECT_EQ(r.exit_code, 0) << c.script;
    EXPECT_EQ(r.err, c.line) << c.script;
  }
}

}  // namespace
