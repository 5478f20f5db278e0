// The script reader on a POSIX system: what it refuses to open, made with
// the POSIX calls that build a FIFO and a link (not in the Windows tests).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runner/script_reader.h"
#include "support/process.h"

namespace {

TEST(ScriptReader, OnlyRegularFilesOpen) {
  // A folder, a device or a FIFO is refused at once: none of them ends (or,
  // a FIFO, its opening waits for a writer).
  temp_dir dir;
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  dir.write("job.nc", "G01 X1\n");
  ASSERT_EQ(symlink(dir.file("job.nc").c_str(), dir.file("link.nc").c_str()), 0);
  struct open_case {
    std::string path;
    bool opens;
  };
  const open_case cases[] = {
      {dir.path(), false},
      {"/dev/zero", false},
      {"/dev/null", false},
      {dir.file("fifo"), false},
      {dir.file("missing.nc"), false},
      {dir.file("job.nc"), true},
      {dir.file("link.nc"), true},
  };
  for (const open_case& c : cases) {
    script_reader reader;
    EXPECT_EQ(open_script_reader(reader, c.path.c_str()), c.opens) << c.path;
    close_script_reader(reader);
  }
}

}  // namespace
