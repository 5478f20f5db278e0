// The millprep program end to end: CAM-style samples convert, dry-run in
// millrun to their end, and stay within the tolerance of the input both
// ways (measured by the test's own sampler); exit codes, the output written
// whole or not at all, and one file per tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "convert/path_sampler.h"
#include "support/process.h"

namespace {

const std::string millprep = MILLPREP_BINARY;
const std::string millrun = MILLRUN_BINARY;
const std::string source_dir = MILLRUN_SOURCE_DIR;

TEST(Millprep, CamSamplesDryRunWithinTolerance) {
  struct Sample { const char* path; const char* options; };
  const Sample samples[] = {
      {"examples/cam_bracket_mm.nc", ""},            // Fusion-style: millimetres, R arcs
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
    std::printf("%s: %s    measured here: output to input %.5f in, input to output %.5f in\n", sample.path,
                converted.err.c_str(), out_to_in, in_to_out);
  }
}

TEST(Millprep, RefusedJobLeavesNoFile) {
  temp_dir dir;
  dir.write("job.nc", "G20\nG0 X1\nG41 X2\n");
  dir.write("out.nc", "an older job\n");
  process_result result = run_process({millprep, "job.nc", "-o", "out.nc"}, dir.path());
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("millprep: job.nc:3: G41: cutter compensation"), std::string::npos) << result.err;
  EXPECT_EQ(dir.read("out.nc"), "an older job\n");  // untouched
  EXPECT_FALSE(dir.exists("out.nc.millprep-tmp"));

  EXPECT_EQ(run_process({millprep, "missing.nc"}, dir.path()).exit_code, 2);
  EXPECT_EQ(run_process({millprep, "job.nc", "--tolerance", "0"}, dir.path()).exit_code, 2);
  EXPECT_EQ(run_process({millprep, "job.nc", "--units", "ft"}, dir.path()).exit_code, 2);
  EXPECT_EQ(run_process({millprep, "job.nc", "--split-tools"}, dir.path()).exit_code, 2);
}

TEST(Millprep, SplitToolsWritesOnePartPerTool) {
  temp_dir dir;
  dir.write("job.nc",
            "G20\nT1 M6\nG0 X1 Y1\nG1 Z-0.1\nG0 Z0.5\nT2 M6\nG0 X2\nG1 Z-0.2\nG0 Z0.5\nM30\nG0 X0\n");
  process_result refused = run_process({millprep, "job.nc", "-o", "out.nc"}, dir.path());
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("job.nc:6: a second tool (T2) between moves"), std::string::npos) << refused.err;

  process_result split = run_process({millprep, "job.nc", "-o", "out.nc", "--split-tools"}, dir.path());
  ASSERT_EQ(split.exit_code, 0) << split.err;
  EXPECT_NE(split.err.find("job.nc:11: warning: the program ended on line 10"), std::string::npos) << split.err;
  EXPECT_NE(dir.read("out.t1.nc").find("// Part 1 of the job, tool T1\n"), std::string::npos);
  std::string second = dir.read("out.t2.nc");
  EXPECT_NE(second.find("// Part 2 of the job, tool T2\nG20\nG90\n"), std::string::npos) << second;
  // Part 2 begins at millrun's home: X and Z are written again.
  EXPECT_NE(second.find("G00 X2.0000 Y1.0000 Z0.5000 (line 7)"), std::string::npos) << second;
  EXPECT_FALSE(dir.exists("out.nc"));
  for (const char* part : {"out.t1.nc", "out.t2.nc"})
    EXPECT_EQ(run_process({millrun, part}, dir.path()).exit_code, 0) << part;
}

TEST(Millprep, FitAndShiftPlaceTheJob) {
  temp_dir dir;
  dir.write("job.nc", "G21 G90\nG0 Z5\nG0 X-25.4 Y-12.7\nG1 Z-1\nG2 X25.4 Y-12.7 R25.4\nG0 Z5\n");
  process_result fitted =
      run_process({millprep, "job.nc", "--fit", "--shift", "0.5,0.25,0", "-o", "out.nc"}, dir.path());
  ASSERT_EQ(fitted.exit_code, 0) << fitted.err;
  // The half circle spans X -1 to 1 and Y -0.5 to 0.5; fitted, its least X
  // and Y are 0, then the shift adds 0.5 and 0.25.
  EXPECT_NE(dir.read("out.nc").find("\nG00 X0.5000 Y0.2500 (line 3)\n"), std::string::npos);
  EXPECT_NE(fitted.err.find("extent X 0.0000 to 2.5000"), std::string::npos) << fitted.err;
}

}  // namespace
