#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "preview/millplot_cli.h"
#include "preview/toolpath.h"
#include "runner/run_program.h"
#include "support/message_recorder.h"
#include "support/process.h"

namespace {

const std::string source_dir = MILLRUN_SOURCE_DIR;

/// A fresh working folder for each test, as millplot and millrun use the
/// working directory for includes and output files.
class Millplot : public testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    if (chdir(old_cwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << old_cwd_;
  }
  int plot(const std::string& script, const std::string& svg, bool& written) {
    testing::internal::CaptureStdout();
    int code = run_millplot(script, svg, written);
    testing::internal::GetCapturedStdout();
    return code;
  }
  int dry_run(const std::string& script) {
    testing::internal::CaptureStdout();
    int code = run_program(("millrun " + script).c_str());
    testing::internal::GetCapturedStdout();
    return code;
  }
  void copy_example(const std::string& name) {
    dir_.write(name, read_file(source_dir + "/examples/" + name));
  }
  temp_dir dir_;
  std::string old_cwd_;
};

/// The value of the first `name="..."` in `text`; empty when absent.
std::string attribute(const std::string& text, const std::string& name) {
  const std::string key = " " + name + "=\"";
  size_t at = text.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  return text.substr(at, text.find('"', at) - at);
}

double number(const std::string& text, const std::string& name) {
  std::string value = attribute(text, name);
  EXPECT_FALSE(value.empty()) << name;
  return std::atof(value.c_str());
}

/// One view of the picture: from `start` to the next view or the key.
std::string group(const std::string& svg, const std::string& start) {
  size_t at = svg.find(start);
  if (at == std::string::npos) return "";
  size_t end = std::min(svg.find("\n<g class=\"view-", at + 1), svg.find("\n<g class=\"key\"", at));
  return svg.substr(at, end - at);
}

struct envelope_lines {
  long min[3];
  long max[3];
};

/// The three envelope lines of EnvelopeReport.txt.
envelope_lines read_report(const std::string& report) {
  envelope_lines e{};
  const char* p = report.c_str();
  for (int a = 0; a < 3; ++a) {
    char axis = 0;
    EXPECT_EQ(std::sscanf(p, "%c: MIN = %ld steps, MAX = %ld steps", &axis, &e.min[a], &e.max[a]),
              3);
    p = std::strchr(p, '\n');
    if (!p) break;
    ++p;
  }
  return e;
}

struct box {
  double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
  void add(double x, double y) {
    left = std::min(left, x);
    right = std::max(right, x);
    top = std::min(top, y);
    bottom = std::max(bottom, y);
  }
};

/// Every point the moves of a view pass through: path points and plunge dots.
box drawn_points(const std::string& view) {
  box b;
  for (const char* kind : {"<path class=\"feed\" d=\"", "<path class=\"rapid\" d=\""}) {
    for (size_t at = view.find(kind); at != std::string::npos; at = view.find(kind, at)) {
      at += std::strlen(kind);
      const char* p = view.c_str() + at;
      while (*p == 'M' || *p == 'L') {
        char* end = nullptr;
        double x = std::strtod(p + 1, &end);
        double y = std::strtod(end, &end);
        b.add(x, y);
        p = end;
      }
      EXPECT_EQ(*p, '"');
    }
  }
  const std::string dot = "<circle class=\"plunge\"";
  for (size_t at = view.find(dot); at != std::string::npos; at = view.find(dot, at + 1)) {
    std::string element = view.substr(at, view.find('>', at) - at);
    b.add(number(element, "cx"), number(element, "cy"));
  }
  return b;
}

double inches(long steps, double numerator, double denominator) {
  return steps * denominator / (1000.0 * numerator);
}

// ---------------------------------------------------------------------------

TEST(MillplotNames, DefaultOutputIsTheScriptWithSvg) {
  const std::pair<const char*, const char*> rows[] = {
      {"job.nc", "job.svg"},         {"job", "job.svg"},
      {"dir/job.nc", "dir/job.svg"}, {"dir.v2/job", "dir.v2/job.svg"},
      {".hidden", ".hidden.svg"},    {"job.svg", "job.svg.svg"},
      {"a\\b.tap", "a\\b.svg"},      {"my job.nc", "my job.svg"},
  };
  for (const auto& [script, svg] : rows) EXPECT_EQ(default_svg_name(script), svg) << script;
}

TEST(MillplotNames, Arguments) {
  struct row {
    std::vector<const char*> args;
    const char* script;
    const char* output;
    bool help;
    bool version;
    bool error;
  };
  const row rows[] = {
      {{"job.nc"}, "job.nc", "job.svg", false, false, false},
      {{"-o", "out.svg", "job.nc"}, "job.nc", "out.svg", false, false, false},
      {{"job.nc", "--output", "out.svg"}, "job.nc", "out.svg", false, false, false},
      {{"my", "job.nc"}, "my job.nc", "my job.svg", false, false, false},
      {{"--", "-o"}, "-o", "-o.svg", false, false, false},
      {{"--help"}, "", "", true, false, false},
      {{"--version"}, "", "", false, true, false},
      {{}, "", "", false, false, true},
      {{"job.nc", "-o"}, "", "", false, false, true},
      {{"-o", "a.svg", "-o", "b.svg", "job.nc"}, "", "", false, false, true},
      {{"-o", "", "job.nc"}, "job.nc", "", false, false, true},
  };
  for (const row& r : rows) {
    std::vector<const char*> argv = {"millplot"};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    millplot_options o = parse_millplot_arguments(static_cast<int>(argv.size()), argv.data());
    SCOPED_TRACE(r.args.empty() ? "(none)" : r.args[0]);
    EXPECT_EQ(o.help, r.help);
    EXPECT_EQ(o.version, r.version);
    EXPECT_EQ(!o.error.empty(), r.error) << o.error;
    if (r.error) continue;
    EXPECT_EQ(o.script, r.script);
    EXPECT_EQ(o.output, r.output);
  }
}

// ---------------------------------------------------------------------------
// The picture's envelope is the dry run's, in numbers and in drawing.

TEST_F(Millplot, EnvelopeMatchesTheDryRunsReport) {
  struct row {
    const char* name;
    std::string script;  // empty: the demo job
    int exit_code;
  };
  // Moves of one step, each far less than a pixel at this scale, that add
  // up to a long way: the drawing must still reach the end of them.
  std::string creep = "G20\nG01 X20.0\n";
  for (int i = 1; i <= 400; ++i) creep += "G01 Y" + std::to_string(i * 0.00165) + "\n";
  const row rows[] = {
      {"demo", "", 0},
      {"creep", creep, 0},
      {"negative", "G20\nG00 X-1.0 Y-0.5\nG01 Z1.5\nG01 X2.0 Y1.0\nG00 Z2.11\n", 0},
      // The first motion line is composed before the homing and forgotten.
      {"motion first", "G01 X1.0\nG01 X2.0 Y0.3\n", 0},
      {"failing", "G20\nG01 X1.0 Y1.0\nG02 X1 Y1\nG01 X3.0\n", 1},
      {"depth", "set_work_surface_depth_below_top_of_z 3.0\n;\nG01 Z2.5\nG01 X0.5 Y0.5\n", 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string script = "job.nc";
    if (!r.script.empty()) {
      dir_.write(script, r.script);
    } else {
      script = "demo.nc";
      copy_example("demo.nc");
      copy_example("demo_holes.nc");
    }
    message_recorder messages;
    ASSERT_EQ(dry_run(script), r.exit_code);
    const std::string report = dir_.read("EnvelopeReport.txt");
    const std::string log = dir_.read("KelCodeOutput.txt");
    bool written = false;
    EXPECT_EQ(plot(script, "plot.svg", written), r.exit_code);
    ASSERT_TRUE(written);
    // The dry run's files are left as they were.
    EXPECT_EQ(dir_.read("EnvelopeReport.txt"), report);
    EXPECT_EQ(dir_.read("KelCodeOutput.txt"), log);

    const std::string svg = dir_.read("plot.svg");
    ASSERT_EQ(svg.rfind("<?xml", 0), 0u);
    ASSERT_NE(svg.find("</svg>\n"), std::string::npos);
    EXPECT_EQ(attribute(svg, "data-ran-to-end"), r.exit_code == 0 ? "true" : "false");
    const envelope_lines e = read_report(report);
    static const char* const names[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(attribute(svg, std::string("data-envelope-min-") + names[a] + "-steps"),
                std::to_string(e.min[a]));
      EXPECT_EQ(attribute(svg, std::string("data-envelope-max-") + names[a] + "-steps"),
                std::to_string(e.max[a]));
    }

    // The envelope box of the top view sits where its inches put it.
    const std::string top = group(svg, "<g class=\"view-xy\"");
    ASSERT_FALSE(top.empty());
    const double ox = number(top, "data-origin-x"), oy = number(top, "data-origin-y");
    const double ppi = number(top, "data-px-per-inch");
    ASSERT_NE(top.find("<rect class=\"envelope\""), std::string::npos);
    const std::string rect = top.substr(top.find("<rect class=\"envelope\""));
    const double left = ox + inches(e.min[0], 1024, 1688) * ppi;
    const double right = ox + inches(e.max[0], 1024, 1688) * ppi;
    const double upper = oy - inches(e.max[1], 1024, 1688) * ppi;
    const double lower = oy - inches(e.min[1], 1024, 1688) * ppi;
    EXPECT_NEAR(number(rect, "x"), left, 0.01);
    EXPECT_NEAR(number(rect, "y"), upper, 0.01);
    EXPECT_NEAR(number(rect, "width"), right - left, 0.02);
    EXPECT_NEAR(number(rect, "height"), lower - upper, 0.02);

    // The moves drawn reach the envelope and stay inside it: every position
    // since the homing is the end of a move drawn, home included.
    const box b = drawn_points(top);
    EXPECT_NEAR(b.left, left, 0.5);
    EXPECT_NEAR(b.right, right, 0.5);
    EXPECT_NEAR(b.top, upper, 0.5);
    EXPECT_NEAR(b.bottom, lower, 0.5);

    // The side view: X against Z, its box from the Z envelope.
    const std::string side = group(svg, "<g class=\"view-xz\"");
    ASSERT_FALSE(side.empty());
    const double sz = number(side, "data-origin-z"), zppi = number(side, "data-px-per-inch-z");
    ASSERT_NE(side.find("<rect class=\"envelope\""), std::string::npos);
    const std::string side_rect = side.substr(side.find("<rect class=\"envelope\""));
    EXPECT_NEAR(number(side_rect, "y"), sz - inches(e.max[2], 4000, 1000) * zppi, 0.01);
    EXPECT_NEAR(number(side_rect, "height"), (e.max[2] - e.min[2]) / 4000.0 * zppi, 0.02);
  }
}

TEST_F(Millplot, WritesNoDryRunFiles) {
  dir_.write("job.nc", "G20\nG01 X1.0\n");
  bool written = false;
  EXPECT_EQ(plot("job.nc", "job.svg", written), 0);
  EXPECT_TRUE(written);
  EXPECT_TRUE(dir_.exists("job.svg"));
  EXPECT_FALSE(dir_.exists("KelCodeOutput.txt"));
  EXPECT_FALSE(dir_.exists("EnvelopeReport.txt"));
}

TEST_F(Millplot, LinkTheScriptOpensIsAStandIn) {
  // Neither the port nor the link file is touched; the job is drawn as the
  // machine would run it, homed before the first move.
  for (const char* script : {"open comm COM7\nG01 X1.0\n", "open comm link.txt\nG01 X1.0\n"}) {
    SCOPED_TRACE(script);
    dir_.write("job.nc", script);
    message_recorder messages;
    bool written = false;
    EXPECT_EQ(plot("job.nc", "job.svg", written), 0);
    EXPECT_TRUE(messages.all().empty());
    const std::string svg = dir_.read("job.svg");
    EXPECT_EQ(attribute(svg, "data-envelope-max-x-steps"), "607");
    EXPECT_EQ(attribute(svg, "data-feed-moves"), "1");
    EXPECT_FALSE(dir_.exists("link.txt"));
  }
}

TEST_F(Millplot, FailingScriptIsDrawnUpToItsFailure) {
  dir_.write("holes.nc", "G01 Y0.5\nG02 X1 Y1\n");
  dir_.write("job.nc", "G20\nG01 X1.0\ninclude holes.nc\nG01 X3.0\n");
  message_recorder messages;
  bool written = false;
  EXPECT_EQ(plot("job.nc", "job.svg", written), 1);
  EXPECT_TRUE(written);
  ASSERT_EQ(messages.captions(), std::vector<std::string>{"Unknown GCode @ holes.nc:2"});
  const std::string svg = dir_.read("job.svg");
  EXPECT_EQ(attribute(svg, "data-ran-to-end"), "false");
  EXPECT_NE(svg.find("Stopped at holes.nc:2"), std::string::npos);
  EXPECT_EQ(attribute(svg, "data-feed-moves"), "2");
  EXPECT_EQ(attribute(svg, "data-envelope-max-y-steps"), "303");
}

TEST_F(Millplot, ProblemsWithTheFilesAreShown) {
  struct row {
    const char* name;
    const char* script;
    const char* output;
    const char* caption;
  };
  const row rows[] = {
      {"missing script", "nowhere.nc", "nowhere.svg", "Cannot read the script"},
      {"output is the script", "job.nc", "job.nc", "Output would overwrite the script"},
      {"output folder missing", "job.nc", "no-such-folder/job.svg", "Cannot write the preview"},
  };
  dir_.write("job.nc", "G20\nG01 X1.0\n");
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    message_recorder messages;
    bool written = true;
    EXPECT_EQ(plot(r.script, r.output, written), 1);
    EXPECT_FALSE(written);
    EXPECT_EQ(messages.captions(), std::vector<std::string>{r.caption});
  }
  EXPECT_EQ(dir_.read("job.nc"), "G20\nG01 X1.0\n");
  EXPECT_FALSE(dir_.exists("nowhere.svg"));
}

TEST_F(Millplot, DwellsAreTimedNotWaited) {
  // Ten minutes of dwell: the test would time out if the preview waited.
  dir_.write("job.nc", "G20\nG04 P600000\n");
  bool written = false;
  EXPECT_EQ(plot("job.nc", "job.svg", written), 0);
  const std::string svg = dir_.read("job.svg");
  // The first homing's three exchanges (51 bytes, 53 ms; its travel is not
  // known) and the dwell.
  EXPECT_EQ(attribute(svg, "data-estimated-ms"), "600053");
  EXPECT_NE(svg.find("estimated machine time 0:10:00"), std::string::npos);
}

TEST_F(Millplot, EachCollectionStartsFromAFreshRun) {
  // Nothing of one collection leaks into the next in the same process: the
  // estimate, the moves, the dwells and the envelope start afresh.
  dir_.write("a.nc", "G20\nG01 X2.0 Y1.0\nG04 P500\nG00 Z1.0\n");
  dir_.write("b.nc", "G20\nG00 X-1.0 Y3.0\nG01 Z0.5\n");
  toolpath first, other, again;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(collect_toolpath("a.nc", first));
  EXPECT_TRUE(collect_toolpath("b.nc", other));
  EXPECT_TRUE(collect_toolpath("a.nc", again));
  testing::internal::GetCapturedStdout();
  EXPECT_GT(first.estimate_ms, 500.0);
  EXPECT_EQ(again.estimate_ms, first.estimate_ms);
  EXPECT_EQ(again.moves.size(), first.moves.size());
  EXPECT_EQ(again.dwells, 1u);
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(again.envelope_min[a], first.envelope_min[a]);
    EXPECT_EQ(again.envelope_max[a], first.envelope_max[a]);
  }
}

TEST_F(Millplot, ScriptNameIsEscaped) {
  dir_.write("a&b's.nc", "G20\n");
  bool written = false;
  EXPECT_EQ(plot("a&b's.nc", "out.svg", written), 0);
  const std::string svg = dir_.read("out.svg");
  EXPECT_EQ(attribute(svg, "data-script"), "a&amp;b&apos;s.nc");
  EXPECT_EQ(svg.find("a&b"), std::string::npos);
}

}  // namespace
