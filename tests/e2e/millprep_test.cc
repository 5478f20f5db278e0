// The millprep program end to end: CAM-style samples convert, dry-run in
// millrun to their end, and stay within the tolerance of the input both
// ways (measured by the test's own sampler); exit codes, the output written
// whole or not at all, and one file per tool.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <sstream>
#include <string>

#include "convert/path_sampler.h"
#include "support/live_process.h"
#include "support/process.h"
#include "support/sim_process.h"

namespace {

const std::string millprep = MILLPREP_BINARY;
const std::string millrun = MILLRUN_BINARY;
const std::string source_dir = MILLRUN_SOURCE_DIR;

TEST(Millprep, CamSamplesDryRunWithinTolerance) {
  struct Sample {
    const char* path;
    const char* options;
  };
  const Sample samples[] = {
      {"examples/cam_bracket_mm.nc", ""},             // Fusion-style: millimetres, R arcs
      {"tests/convert/data/linuxcnc_inch.ngc", ""},   // inches, I/J arcs, helix, XZ arc, cycles
      {"tests/convert/data/pcb_drill.nc", ""},        // a drilling file
      {"tests/convert/data/webcam_segments.nc", ""},  // many tiny segments
  };
  const double tolerance = 0.001;
  for (const Sample& sample : samples) {
    temp_dir dir;
    std::string input = source_dir + "/" + sample.path;
    process_result converted = run_process({millprep, input, "-o", dir.file("job.nc")}, dir.path());
    ASSERT_EQ(converted.exit_code, 0) << sample.path << "\n" << converted.err;
    process_result ran = run_process({millrun, "job.nc"}, dir.path());
    EXPECT_EQ(ran.exit_code, 0) << sample.path << "\n" << ran.err;

    std::vector<sampler::piece> in = sampler::input_path(read_file(input));
    std::vector<sampler::piece> out = sampler::output_path(dir.read("job.nc"));
    double out_to_in = sampler::farthest(sampler::points_along(out, tolerance / 4), in);
    double in_to_out = sampler::farthest(sampler::points_along(in, tolerance / 4), out);
    EXPECT_LE(out_to_in, tolerance + 1e-6) << sample.path;
    EXPECT_LE(in_to_out, tolerance + 0.0001 + 1e-6) << sample.path;
    std::printf("%s: %s    measured here: output to input %.5f in, input to output %.5f in\n",
                sample.path, converted.err.c_str(), out_to_in, in_to_out);
  }
}

TEST(Millprep, RefusedJobLeavesNoFile) {
  temp_dir dir;
  dir.write("job.nc", "G20\nG0 X1\nG41 X2\n");
  dir.write("out.nc", "an older job\n");
  process_result result = run_process({millprep, "job.nc", "-o", "out.nc"}, dir.path());
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("millprep: job.nc:3: G41: cutter compensation"), std::string::npos)
      << result.err;
  EXPECT_EQ(dir.read("out.nc"), "an older job\n");  // untouched
  EXPECT_FALSE(dir.exists("out.nc.millprep-tmp"));

  EXPECT_EQ(run_process({millprep, "missing.nc"}, dir.path()).exit_code, 2);
  EXPECT_EQ(run_process({millprep, "job.nc", "--tolerance", "0"}, dir.path()).exit_code, 2);
  EXPECT_EQ(run_process({millprep, "job.nc", "--units", "ft"}, dir.path()).exit_code, 2);
  EXPECT_EQ(run_process({millprep, "job.nc", "--split-tools"}, dir.path()).exit_code, 2);
}

TEST(Millprep, SplitToolsWritesOnePartPerTool) {
  temp_dir dir;
  dir.write(
      "job.nc",
      "G20\nT1 M6\nG0 X1 Y1\nG1 Z-0.1\nG0 Z0.5\nT2 M6\nG0 X2\nG1 Z-0.2\nG0 Z0.5\nM30\nG0 X0\n");
  process_result refused = run_process({millprep, "job.nc", "-o", "out.nc"}, dir.path());
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("job.nc:6: a second tool (T2) between moves"), std::string::npos)
      << refused.err;

  process_result split =
      run_process({millprep, "job.nc", "-o", "out.nc", "--split-tools"}, dir.path());
  ASSERT_EQ(split.exit_code, 0) << split.err;
  EXPECT_NE(split.err.find("job.nc:11: warning: the program ended on line 10"), std::string::npos)
      << split.err;
  EXPECT_NE(dir.read("out.t1.nc").find("// Part 1 of the job, tool T1 "), std::string::npos);
  std::string second = dir.read("out.t2.nc");
  EXPECT_NE(second.find("// Part 2 of the job, tool T2 "), std::string::npos) << second;
  // Part 2 begins at millrun's home: over to where the tool stood, down to
  // it, then on with the job.
  EXPECT_NE(second.find("G20\nG90\n; M6 T2\nG00 X1.0000 Y1.0000 (line 6)\nG00 Z0.5000 (line 6)\n"
                        "G00 X2.0000 (line 7)\n"),
            std::string::npos)
      << second;
  EXPECT_FALSE(dir.exists("out.nc"));
  for (const char* part : {"out.t1.nc", "out.t2.nc"})
    EXPECT_EQ(run_process({millrun, part}, dir.path()).exit_code, 0) << part;
}

TEST(Millprep, FitAndShiftPlaceTheJob) {
  temp_dir dir;
  dir.write("job.nc", "G21 G90\nG0 Z5\nG0 X-25.4 Y-12.7\nG1 Z-1\nG2 X25.4 Y-12.7 R25.4\nG0 Z5\n");
  process_result fitted = run_process(
      {millprep, "job.nc", "--fit", "--shift", "0.5,0.25,0", "-o", "out.nc"}, dir.path());
  ASSERT_EQ(fitted.exit_code, 0) << fitted.err;
  // The half circle spans X -1 to 1 and Y -0.5 to 0.5; fitted, its least X
  // and Y are 0, then the shift adds 0.5 and 0.25.
  EXPECT_NE(dir.read("out.nc").find("\nG00 X0.5000 Y0.2500 (line 3)\n"), std::string::npos);
  EXPECT_NE(fitted.err.find("extent X 0.0000 to 2.5000"), std::string::npos) << fitted.err;
}

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// What each form of a CAM program becomes: the output (the text after the
// first "G90" line of the file named, exactly), or the refusal, and the
// warnings. Every output written is one millrun runs to its end.
TEST(Millprep, EachFormIsReadAsMeant) {
  struct Form {
    const char* input;
    const char* options;  // besides "job.nc"
    int exit_code;
    const char* file;  // the output checked, or null
    const char* head;  // a piece of the file's header, or null
    const char* body;  // the file after its first G90 line, or null
    const char* err;   // a piece of standard error, or null
  };
  const char* tool_change_at_depth =
      "G20\nT1 M6\nG0 X1 Y1 Z0.1\nG1 Z-0.2\nT2 M6\nM3 S9000\nG1 X2\nM30\n";
  const char* stop_before_plunge = "G20\nG0 X1 Y1 Z0.5\nG1 Z-0.1\nG0 Z0.2\nM0\nG1 Z-0.3\n";
  const Form forms[] = {
      // A later part starts at home: over at home Z, down (rapid above Z 0,
      // feed below); the tool change heads it as a comment.
      {tool_change_at_depth, "-o out.nc --split-tools", 0, "out.t1.nc", "tool T1 ",
       "M6 T1\nG00 X1.0000 Y1.0000 Z0.1000 (line 3)\nG01 Z-0.2000 (line 4)\n", nullptr},
      {tool_change_at_depth, "-o out.nc --split-tools", 0, "out.t2.nc", "tool T2 ",
       "; M6 T2\nM3 S9000\nG00 X1.0000 Y1.0000 (line 5)\nG00 Z0.0000 (line 5)\nG01 Z-0.2000 (line "
       "5)\n"
       "G01 X2.0000 (line 7)\nM30\n",
       nullptr},
      {stop_before_plunge, "-o out.nc --split-tools", 0, "out.t2.nc", nullptr,
       "; M0\nG00 X1.0000 Y1.0000 (line 5)\nG00 Z0.2000 (line 5)\nG01 Z-0.3000 (line 6)\n",
       nullptr},
      {stop_before_plunge, "-o out.nc", 1, nullptr, nullptr, nullptr,
       "job.nc:5: a program stop (M0) between moves"},
      // Before the first cut a stop stays, after a move as a comment.
      {"G20\nG0 Z0.08\nT1\nM0\nG1 Z-0.1\n", "-o out.nc", 0, "out.nc", nullptr,
       "G00 Z0.0800 (line 2)\nT1\n; M0\nG01 Z-0.1000 (line 5)\n", nullptr},
      // A tool change after the last move stays, as a comment.
      {"G20\nG1 X1\nT2 M6\nM30\n", "-o out.nc", 0, "out.nc", nullptr,
       "G01 X1.0000 (line 2)\n; M6 T2\nM30\n", nullptr},
      // The header names the tool the part cuts with.
      {"(Fusion)\nG20\nG53 G0 Z0.\nT1 M6\nG0 X1\nG1 Z-0.1\n", "-o out.nc --split-tools", 0,
       "out.t1.nc", "// Part 1 of the job, tool T1 ", nullptr, nullptr},
      // Line ends as millrun counts them.
      {"G20\rG1 X1\rY1\r", "-o out.nc", 0, "out.nc", nullptr,
       "G01 X1.0000 (line 2)\nG01 Y1.0000 (line 3)\n", nullptr},
      {"G20\r\r\nG1 X1\r\n\rY1\n", "-o out.nc", 0, "out.nc", nullptr,
       "G01 X1.0000 (line 2)\nG01 Y1.0000 (line 4)\n", nullptr},
      // The closing %, and the program end.
      {"%\nG20\nG0 X1\n%\n\nG0 X5\n", "-o out.nc", 0, "out.nc", nullptr, "G00 X1.0000 (line 3)\n",
       "job.nc:6: warning: the program ended with % on line 4"},
      {"G20\nG0 X1\nM30\nG0 X2\n", "-o out.nc", 0, "out.nc", nullptr,
       "G00 X1.0000 (line 2)\n; M30 (the program end, more follows)\nG00 X2.0000 (line 4)\n",
       "job.nc:4: warning: the program ended on line 3"},
      {"G20\nG0 X1 M30\n", "-o out.nc", 0, "out.nc", nullptr, "G00 X1.0000 (line 2)\nM30\n",
       nullptr},
      // Limits.
      {"G20\nG2 X1 Y0 R-1000000000000000\n", "", 1, nullptr, nullptr, nullptr,
       "job.nc:2: the arc passes more than 100000 in"},
      {"G20\nG2 X0 Y0 I99999.9\n", "", 1, nullptr, nullptr, nullptr,
       "job.nc:2: the arc passes more than 100000 in"},
      // Modal words.
      {"G20 G21\n", "", 1, nullptr, nullptr, nullptr, "G20 and G21 on one line contradict"},
      {"G20\nG90 G91\n", "", 1, nullptr, nullptr, nullptr, "G90 and G91 on one line contradict"},
      {"G20\nG17 G18\n", "", 1, nullptr, nullptr, nullptr, "G17 and G18 on one line contradict"},
      {"G20\nG0 G1 X1\n", "", 1, nullptr, nullptr, nullptr, "G0 and G1 on one line contradict"},
      {"G00 G17 G21 G40 G49 G80 G90\nX25.4\n", "-o out.nc", 0, "out.nc", nullptr,
       "G00 X1.0000 (line 2)\n", nullptr},
      {"G20.95\n", "", 1, nullptr, nullptr, nullptr,
       "job.nc:1: a G-code with more than one decimal"},
      {"G20\nG0.96 X1\n", "", 1, nullptr, nullptr, nullptr,
       "job.nc:2: a G-code with more than one decimal"},
      {"G20\nG10 L2 P1 X0\n", "", 1, nullptr, nullptr, nullptr, "job.nc:2: G10: G10 offsets"},
      {"G20\nG1 X1e2\n", "", 1, nullptr, nullptr, nullptr, "job.nc:2: a number in exponent form"},
      {"$H\nG20\n", "", 1, nullptr, nullptr, nullptr,
       "job.nc:1: a controller command ($H, $X, ...)"},
      // Output safety: nothing is replaced.
      {"G20\nG0 X1\n", "-o job.nc", 2, "job.nc", "G20\nG0 X1\n", nullptr, "is the input itself"},
      {"G20\nG0 X1\n", "-o ./job.nc", 2, nullptr, nullptr, nullptr, "is the input itself"},
      {"G20\nG0 X1\n", "-o /dev/null", 2, nullptr, nullptr, nullptr,
       "exists and is no regular file"},
      {"G20\nG0 X1\n", "-o .", 2, nullptr, nullptr, nullptr, "exists and is no regular file"},
      // No flood from one line.
      {"G20\nG2 X0 Y0 I1000 P10000\n", "--tolerance 0.0002", 1, nullptr, nullptr, nullptr,
       "job.nc:2: the line would become"},
      {"G20\nG0 Z0.1\nG83 X0 Y0 Z-1 R0 Q0.0000001\n", "", 1, nullptr, nullptr, nullptr,
       "motion lines, more than 100000"},
      // Long dwells and jobs behind the home corner are told.
      {"G20\nM3\nG04 P4000\n", "", 0, nullptr, nullptr, nullptr,
       "job.nc:3: warning: the dwell waits 4000.0 s (66.7 min); P is read in seconds: a CAM "
       "program that writes "
       "milliseconds needs --dwell-units ms"},
      {"G20\nG0 X-1 Y1\n", "", 0, nullptr, nullptr, nullptr,
       "warning: the job reaches X -1.0000, Y 1.0000 in, behind"},
      {"G20\nG0 Z3\n", "", 0, nullptr, nullptr, nullptr,
       "the job reaches Z 3.0000 in, above the Z home position"},
  };
  for (const Form& form : forms) {
    temp_dir dir;
    dir.write("job.nc", form.input);
    std::vector<std::string> argv = {millprep, "job.nc"};
    for (const std::string& word : words_of(form.options)) argv.push_back(word);
    process_result result = run_process(argv, dir.path());
    const std::string label = std::string(form.input) + " " + form.options;
    EXPECT_EQ(result.exit_code, form.exit_code) << label << "\n" << result.err;
    if (form.err) {
      EXPECT_NE(result.err.find(form.err), std::string::npos) << label << "\n" << result.err;
    }
    if (!form.file) continue;
    std::string text = dir.read(form.file);
    if (form.head) {
      EXPECT_NE(text.find(form.head), std::string::npos) << label << "\n" << text;
    }
    if (form.body) {
      size_t body = text.find("G90\n");
      EXPECT_EQ(body == std::string::npos ? text : text.substr(body + 4), form.body) << label;
    }
    if (form.exit_code == 0) {
      EXPECT_EQ(run_process({millrun, form.file}, dir.path()).exit_code, 0) << label;
    }
  }
}

// Ctrl-C or a termination request while the job is read leaves no output
// behind. The input is a FIFO the test holds open, so the conversion is
// surely under way, and waiting for more, when the request comes.
TEST(Millprep, StopRemovesTheTemporaryOutput) {
  temp_dir dir;
  ASSERT_EQ(::mkfifo(dir.file("job.nc").c_str(), 0600), 0);
  live_process prep;
  ASSERT_TRUE(prep.start({millprep, "job.nc", "-o", "out.nc"}, dir.path()));
  int fifo = ::open(dir.file("job.nc").c_str(), O_WRONLY);
  ASSERT_GE(fifo, 0);
  std::string job = "G20\n";
  while (job.size() < 80000) job += "G1 X1\nG1 X0\n";  // more than one read of the converter
  EXPECT_EQ(::write(fifo, job.data(), job.size()), static_cast<ssize_t>(job.size()));
  EXPECT_TRUE(prep.wait_until([&] { return dir.exists("out.nc.millprep-tmp"); }, 30000))
      << prep.err;
  EXPECT_TRUE(prep.signal(SIGTERM));
  // NOTE: a signal that comes just before millprep blocks in its read of the
  // FIFO does not end that read; the writer's close does, and the stop is
  // seen at the next line.
  ::close(fifo);
  EXPECT_TRUE(prep.wait_exit(30000));
  EXPECT_EQ(prep.exit_code, 2);
  EXPECT_NE(prep.err.find("millprep: stopped; nothing was written"), std::string::npos) << prep.err;
  EXPECT_FALSE(dir.exists("out.nc.millprep-tmp"));
  EXPECT_FALSE(dir.exists("out.nc"));
}

// A part after a tool change at depth, run on the simulated machine: from
// home it goes over at the top of Z, down to the depth, then on.
TEST(Millprep, LaterPartStartsFromHomeOnTheMachine) {
  if (millsim_binary().empty()) GTEST_SKIP() << "millsim is not built";
  temp_dir dir;
  dir.write("job.nc", "G20\nT1 M6\nG0 X1 Y1 Z0.1\nG1 Z-0.2\nG1 X1.5\nT2 M6\nG1 X2\nM30\n");
  process_result split =
      run_process({millprep, "job.nc", "-o", "out.nc", "--split-tools"}, dir.path());
  ASSERT_EQ(split.exit_code, 0) << split.err;
  dir.write("run.nc", "open comm COM1\n" + dir.read("out.t2.nc"));
  sim_process sim;
  const std::string link = dir.file("ttyMILL1");
  ASSERT_TRUE(sim.start({}, link)) << sim.failure();
  process_result ran =
      run_process({millrun, "run.nc"}, dir.path(), {"MILLRUN_COM1=" + link}, 30000);
  EXPECT_EQ(ran.exit_code, 0) << ran.err;
  EXPECT_TRUE(sim.stop()) << sim.failure();
  sim_transcript wire;
  ASSERT_TRUE(parse_sim_transcript(sim.transcript(), wire)) << sim.transcript();
  // X 1.5 in is 910 steps, Y 1 in 607; Z from the top (2.11 in) to 0 is
  // 8440 steps, to -0.2 in 800 more; X 2 in is 1213 steps.
  const std::vector<std::string> after_homing(
      wire.commands.begin() + std::min<size_t>(6, wire.commands.size()), wire.commands.end());
  EXPECT_EQ(after_homing,
            (std::vector<std::string>{"xyz_linear_move_steps xy rt 910,607", "z_move_steps d 8440",
                                      "z_move_steps d 800", "x_move_steps r 303"}));
  EXPECT_EQ(wire.x, 1213);
  EXPECT_EQ(wire.y, 607);
  EXPECT_EQ(wire.z, -9240);
}

}  // namespace
