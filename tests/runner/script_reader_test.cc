#include "runner/script_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace {

/// The lines read, a cut one marked with a trailing "~" and its rest skipped.
std::vector<std::string> pieces_of(const std::string& contents, size_t size = 2048) {
  temp_dir dir;
  dir.write("s.nc", contents);
  script_reader reader;
  EXPECT_TRUE(open_script_reader(reader, dir.file("s.nc").c_str()));
  std::vector<std::string> pieces;
  std::vector<char> line(size);
  while (size_t n = read_script_line(reader, line.data(), size)) {
    pieces.emplace_back(line.data(), n);
    if (reader.line_cut) pieces.back() += "~";
    skip_rest_of_script_line(reader);
  }
  EXPECT_FALSE(reader.failed);
  close_script_reader(reader);
  return pieces;
}

TEST(ScriptReader, LineEnds) {
  struct reader_case {
    const char* name;
    std::string contents;
    std::vector<std::string> pieces;
  };
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

TEST(ScriptReader, LongLinesAreOneLineEach) {
  // A physical line is one line: 2047 characters fill the buffer and take
  // their line end along; a longer line is handed out cut, its rest skipped.
  const std::string a2047(2047, 'a');
  struct long_case {
    const char* name;
    std::string contents;
    std::vector<std::string> pieces;
  };
  const long_case cases[] = {
      {"exactly_2047_lf", a2047 + "\nG01 X1\n", {a2047, "G01 X1\n"}},
      {"exactly_2047_crlf", a2047 + "\r\nG01 X1\n", {a2047, "G01 X1\n"}},
      {"exactly_2047_cr_cr_lf", a2047 + "\r\r\nG01 X1\n", {a2047, "G01 X1\n"}},
      {"exactly_2047_at_end", a2047, {a2047}},
      {"2048", a2047 + "b\nG01 X1\n", {a2047 + "~", "G01 X1\n"}},
      {"100000_lone_cr", std::string(100000, 'a') + "\rG01 X1", {a2047 + "~", "G01 X1"}},
  };
  for (const long_case& c : cases) EXPECT_EQ(pieces_of(c.contents), c.pieces) << c.name;
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

}  // namespace
