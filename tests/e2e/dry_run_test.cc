// End-to-end tests of the real millrun binary in dry-run mode, for what
// needs its process: the command line, line ends read from disk, the output
// files and messages of the binary (under Wine too, through
// tools/wine-millrun), a message cut to its buffer, the bundled examples.
// Each test runs the program in a fresh folder and compares its exit code,
// both output files (whole, byte for byte), standard output and standard
// error. The dry-run cases themselves are data, run in process:
// tests/runner/dry_run_cases/.
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

/// Standard output after the validator listing every run prints first
/// (tests/link/validator_table_test.cc holds the listing).
std::string after_listing(const std::string& out) {
  size_t at = 0;
  while (out.compare(at, 8, "Command ") == 0 || out.compare(at, 10, "Validator ") == 0) {
    const size_t end = out.find('\n', at);
    if (end == std::string::npos) return out.substr(at);
    at = end + 1;
  }
  return out.substr(at);
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

process_result run_millrun(const temp_dir& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv{millrun};
  argv.insert(argv.end(), args.begin(), args.end());
  process_result r = run_process(argv, dir.path());
  EXPECT_FALSE(r.timed_out) << "millrun did not finish";
  return r;
}

/// Writes `script` as job.nc and runs it.
process_result run_script(const temp_dir& dir, const std::string& script) {
  dir.write("job.nc", script);
  return run_millrun(dir, {"job.nc"});
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
// The main run and its messages.

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
  EXPECT_EQ(after_listing(r.out),
            trace("G01 X1.0 Y0.5", "xyz_linear_move_steps xy rt 607,303") +
                trace("G01 Z2.0", "z_move_steps d 440") + trace("G00 Z2.11", "z_home u") +
                trace("G00 X0", "x_home l") + trace("G01 X1.0", "x_move_steps r 607") +
                trace("G01 X0.0 Y0.0", "xyz_linear_move_steps xy lb 607,303") +
                trace("G01 Y0.5", "y_move_steps t 303") + trace("G01 Y0.0", "y_home b"));
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
    EXPECT_FALSE(r.out.empty());  // the validator listing
    EXPECT_EQ(after_listing(r.out), "");
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
  struct Case {
    const char* option;
    const char* expected_start;
  };
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
  EXPECT_EQ(r.err,
            unknown_gcode_message("mistake_arc.nc:12", "G02 X1.5000 Y1.0000 I0.0000 J0.5000") +
                convert_hint("mistake_arc.nc", "mistake_arc_millrun.nc"));
  EXPECT_EQ(dir.read(log_name),
            home_lines + "z_move_steps d 440\nxyz_linear_move_steps xy rt 607,303\n");
  EXPECT_EQ(dir.read(report_name), report("X: MIN = 00000000 steps, MAX = 00000607 steps",
                                          "Y: MIN = 00000000 steps, MAX = 00000303 steps",
                                          "Z: MIN = 00008000 steps, MAX = 00008440 steps"));
}

TEST(DryRunEstimate, EndsWithTheMachineTimeOfTheJob) {
  // Worked by hand (tests/runner/dry_run_cases/estimate_*/job.nc hold the
  // rest): 607 steps at 10 ms = 6.07 s, plus 76 ms of homing and the
  // command's bytes at 9600 baud -> 0:00:06.
  temp_dir dir;
  process_result r = run_script(dir, "G20\nG01 X1.0\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "Estimated machine time: 0:00:06 (h:mm:ss)\n");
}

}  // namespace
