#include "runner/script_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace {

std::vector<std::string> pieces_of(const std::string& contents, size_t size = 2048) {
  temp_dir dir;
  dir.write("s.nc", contents);
  script_reader reader;
  EXPECT_TRUE(open_script_reader(reader, dir.file("s.nc").c_str()));
  std::vector<std::string> pieces;
  std::vector<char> line(size);
  while (size_t n = read_script_line(reader, line.data(), size)) pieces.emplace_back(line.data(), n);
  EXPECT_FALSE(reader.failed);
  close_script_reader(reader);
  return pieces;
}

TEST(ScriptReader, LineEnds) {
  struct reader_case { const char* name; std::string contents; std::vector<std::string> pieces; };
  const reader_case cases[] = {
      {"lf", "G01 X1\nG01 X2\n", {"G01 X1\n", "G01 X2\n"}},
      {"crlf", "G01 X1\r\nG01 X2\r\n", {"G01 X1\r\n", "G01 X2\r\n"}},
      // Old Macintosh files: every move runs, none is lost inside one line.
      {"lone_cr", "G01 X1\rG01 X2\rG01 X3", {"G01 X1\r", "G01 X2\r", "G01 X3"}},
      {"no_final_end", "G01 X1", {"G01 X1"}},
      {"empty_lines", "\n\r\n\r", {"\n", "\r\n", "\r"}},
      {"empty_file", "", {}},
  };
  for (const reader_case& c : cases) EXPECT_EQ(pieces_of(c.contents), c.pieces) << c.name;
}

TEST(ScriptReader, LongLineArrivesInPiecesOfTheBufferSize) {
  std::string longline(5000, 'a');
  std::vector<std::string> pieces = pieces_of(longline + "\nG01 X1\n");
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_EQ(pieces[0], std::string(2047, 'a'));
  EXPECT_EQ(pieces[1], std::string(2047, 'a'));
  EXPECT_EQ(pieces[2], std::string(906, 'a') + "\n");
  EXPECT_EQ(pieces[3], "G01 X1\n");
}

TEST(ScriptReader, ReadsAcrossItsBlockBoundary) {
  // Lines that straddle the reader's 64 KiB block come out whole.
  std::string contents;
  std::vector<std::string> expected;
  for (int i = 0; i < 20000; ++i) {
    std::string line = "G01 X" + std::to_string(i) + (i % 2 ? "\r\n" : "\n");
    contents += line;
    expected.push_back(line);
  }
  EXPECT_EQ(pieces_of(contents), expected);
}

TEST(ScriptReader, DirectoryIsAReadFailure) {
  temp_dir dir;
  script_reader reader;
  if (!open_script_reader(reader, dir.path().c_str())) return;  // refused at once: fine too
  char line[2048];
  EXPECT_EQ(read_script_line(reader, line, sizeof line), 0u);
  EXPECT_TRUE(reader.failed);
  close_script_reader(reader);
}

}  // namespace
