// tools/check-layers on small trees of its own: each include that points up
// or sideways, and each main outside src/front, is named by file and line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

const std::string check_layers = std::string(MILLRUN_SOURCE_DIR) + "/tools/check-layers";

struct source_file {
  const char* path;
  const char* text;
};

process_result check_tree(const std::vector<source_file>& files) {
  temp_dir tree;
  const std::filesystem::path root = tree.path();
  std::filesystem::create_directories(root / "src");
  for (const source_file& f : files) {
    std::filesystem::create_directories((root / f.path).parent_path());
    tree.write(f.path, f.text);
  }
  return run_process({check_layers, tree.path()}, tree.path());
}

TEST(LayerCheck, AcceptsIncludesDownwardsAndMainsInFront) {
  process_result r = check_tree({
      {"src/runner/a.cc", "#include \"runner/a.h\"\n#include \"supervision/b.h\"\n"},
      {"src/front/m.cc", "#include \"check/c.h\"\n#include \"convert/d.h\"\nint main() {}\n"},
      {"src/convert/a.cc", "#include \"common/machine_defaults.h\"\n"},
      {"src/gcode/a.cc", "#include \"a.h\"\n#include \"common/run_events.h\"\n"},
      {"sim/a.cc", "#include \"pty.h\"\nint main(int, char**) {}\n"},
  });
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exit_code, 0);
}

TEST(LayerCheck, NamesEachWrongIncludeAndMainByFileAndLine) {
  process_result r = check_tree({
      {"src/platform/a.cc", "// x\n#include \"common/decimal.h\"\n"},
      {"src/gcode/a.h", "#include \"link/x.h\"\n"},
      {"src/check/a.cc", "#  include \"preview/p.h\"\n"},
      {"src/supervision/r.cc", "#include \"runner/s.h\"\n"},
      {"src/convert/a.cc", "#include \"gcode/axis_model.h\"\n"},
      {"sim/a.cc", "#include \"platform/device.h\"\n"},
      {"src/runner/a.cc", "#include \"tests/x.h\"\n"},
      {"src/platform/main_posix.cc", "\nint main(int argc, char** argv) {\n"},
  });
  EXPECT_EQ(r.out,
            "src/check/a.cc:1: check includes \"preview/p.h\" (not a layer below it)\n"
            "src/convert/a.cc:1: convert includes \"gcode/axis_model.h\" (not a layer below it)\n"
            "src/gcode/a.h:1: gcode includes \"link/x.h\" (not a layer below it)\n"
            "src/platform/a.cc:2: platform includes \"common/decimal.h\" (not a layer below it)\n"
            "src/platform/main_posix.cc:2: main() outside src/front/\n"
            "src/runner/a.cc:1: runner includes \"tests/x.h\" (no layer)\n"
            "src/supervision/r.cc:1: supervision includes \"runner/s.h\" (not a layer below it)\n"
            "sim/a.cc:1: sim includes \"platform/device.h\" (not a layer below it)\n");
  EXPECT_EQ(r.exit_code, 1);
}

}  // namespace
