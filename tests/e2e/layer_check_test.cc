// tools/check-layers on small trees of its own: each include that points up
// or sideways, and each main outside src/front, is named by file and line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/process.h"

namespace {

const std::string check_layers = std::string(MILLRUN_SOURCE_DIR) + "/tools/check-layers";

TEST(LayerCheck, NamesEachWrongIncludeAndMainByFileAndLine) {
  struct Case {
    const char* file;
    const char* text;
    const char* output;  // "" when the tree is in order
  };
  const Case cases[] = {
      {"src/runner/a.cc", "#include \"runner/a.h\"\n#include \"supervision/b.h\"\n", ""},
      {"src/front/m.cc", "#include \"check/c.h\"\n#include \"convert/d.h\"\nint main() {}\n", ""},
      {"src/convert/a.cc", "#include \"common/machine.h\"\n", ""},
      {"sim/a.cc", "#include \"pty.h\"\nint main(int, char**) {}\n", ""},
      {"src/platform/a.cc", "// x\n#include \"common/decimal.h\"\n",
       "src/platform/a.cc:2: platform includes \"common/decimal.h\" (not a layer below it)\n"},
      {"src/gcode/a.h", "#include \"link/x.h\"\n",
       "src/gcode/a.h:1: gcode includes \"link/x.h\" (not a layer below it)\n"},
      {"src/check/a.cc", "#  include \"preview/p.h\"\n",
       "src/check/a.cc:1: check includes \"preview/p.h\" (not a layer below it)\n"},
      {"src/supervision/r.cc", "#include \"runner/s.h\"\n",
       "src/supervision/r.cc:1: supervision includes \"runner/s.h\" (not a layer below it)\n"},
      {"src/convert/a.cc", "#include \"gcode/axis_model.h\"\n",
       "src/convert/a.cc:1: convert includes \"gcode/axis_model.h\" (not a layer below it)\n"},
      {"sim/a.cc", "#include \"platform/device.h\"\n",
       "sim/a.cc:1: sim includes \"platform/device.h\" (not a layer below it)\n"},
      {"src/runner/a.cc", "#include \"tests/x.h\"\n",
       "src/runner/a.cc:1: runner includes \"tests/x.h\" (no layer)\n"},
      {"src/platform/main_posix.cc", "\nint main(int argc, char** argv) {\n",
       "src/platform/main_posix.cc:2: main() outside src/front/\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + std::string(": ") + c.text);
    temp_dir tree;
    const std::filesystem::path file = std::filesystem::path(tree.path()) / c.file;
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::create_directories(std::filesystem::path(tree.path()) / "src");
    tree.write(c.file, c.text);
    process_result r = run_process({check_layers, tree.path()}, tree.path());
    EXPECT_EQ(r.out, c.output);
    EXPECT_EQ(r.exit_code, *c.output ? 1 : 0);
  }
}

}  // namespace
