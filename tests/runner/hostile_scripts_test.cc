// Scripts that no sane job holds, run in this process: bytes that are not
// text, lines and numbers and paths far beyond the usual, includes without
// end. Each has a clear outcome: the run goes on, or it stops with exit code
// 1 and a message naming file and line (or, for a file that cannot be read,
// as a missing file does, without one). Never a crash, a hang or memory
// without bound; the sanitizer and valgrind runs of this suite check the
// rest. The inputs are made here, not kept as files, for their size and
// their bytes.
//
// Expected texts follow from the default scales: X and Y 1024 steps per
// 1.688" (X1.0 is 607 steps, X1.5 910, X2.0 1213), Z home 2.11" = 8440 steps.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/dry_run.h"
#include "support/process.h"

namespace {

const std::string home_lines = "x_home l\ny_home b\nz_home u\n";

std::string message(const std::string& caption, const std::string& text) {
  return caption + "\n" + text + "\n";
}

std::string invalid_character(const std::string& where, const std::string& shown,
                              const std::string& byte, int column) {
  std::string text = "Invalid character @ " + where + ":\n    " + shown + "\nByte 0x" + byte +
                     " at column " + std::to_string(column) +
                     " is not text; a script is plain text (ASCII or UTF-8).";
  if (byte == "00") text += " A file saved as UTF-16 holds a zero byte in every other column.";
  return message("Invalid character @ " + where, text);
}

std::string line_too_long(const std::string& where, const std::string& line) {
  return message("Line too long @ " + where,
                 "The line is longer than 2047 characters @ " + where +
                     "; only a comment line may be longer. It begins:\n    " + line);
}

std::string out_of_range(const std::string& where, const std::string& line) {
  return message("Target out of range @ " + where,
                 "Target out of range @ " + where + ":\n    " + line +
                     "\nIts step count does not fit the machine's step arithmetic.");
}

std::string with_zero(const char* text, size_t length) { return std::string(text, length); }

// ---------------------------------------------------------------------------
// Scripts, one table: what the file holds, how the run ends.

struct script_case {
  const char* name;
  std::string script;  // job.nc
  int exit_code;
  std::string err;                                              // standard error, whole
  std::string log;                                              // KelCodeOutput.txt, whole
  std::vector<std::pair<std::string, std::string>> files = {};  // other files
};

void run_case(const script_case& c) {
  temp_dir dir;
  dir.write("job.nc", c.script);
  for (const auto& [name, text] : c.files) dir.write(name, text);
  const dry_run_outcome r = run_dry(dir, "job.nc");
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(r.messages, c.err);
  EXPECT_EQ(r.log, c.log);
  EXPECT_TRUE(dir.exists("EnvelopeReport.txt"));
}

std::string padded(const std::string& number, size_t width) {
  return std::string(width - number.size(), '0') + number;
}

const std::string move_1 = "x_move_steps r 607\n" + home_lines;  // G01 X1.0 first

const script_case hostile_cases[] = {
    // Bytes that are not text.
    script_case{"zero_byte_inside_an_operand",
                with_zero("G01 X1.0\nG01 X2\0.5 Y1.0\nG01 X3.0\n", 33), 1,
                invalid_character("job.nc:2", "G01 X2?.5 Y1.0", "00", 7), move_1},
    script_case{"zero_byte_in_a_comment_line", with_zero("// note\0 more\nG01 X1.0\n", 23), 1,
                invalid_character("job.nc:1", "// note? more", "00", 8), ""},
    script_case{"zero_byte_would_cut_an_include_path",
                with_zero("include inner.nc\0.bak\n", 22),
                1,
                invalid_character("job.nc:1", "include inner.nc?.bak", "00", 17),
                "",
                {{"inner.nc", "G01 X1.0\n"}}},
    script_case{"utf16_file",
                with_zero("\xFF\xFEG\0"
                          "0\0"
                          "1\0 \0X\0"
                          "1\0\r\0\n\0",
                          18),
                1, invalid_character("job.nc:1", "\xFF\xFEG?0?1? ?X?1?", "00", 4), ""},
    script_case{"escape_sequence", "G01 X1.0\x1b[2J\n", 1,
                invalid_character("job.nc:1", "G01 X1.0?[2J", "1B", 9), ""},
    script_case{"executable_header",
                with_zero("\x7f"
                          "ELF\x02\x01\x01\0\0\0\0\n",
                          12),
                1, invalid_character("job.nc:1", "?ELF???????", "7F", 1), ""},
    script_case{"form_feed_line", "G01 X1.0\n\f\nG01 X2.0\n", 1,
                invalid_character("job.nc:2", "?", "0C", 1), move_1},
    script_case{"utf8_byte_order_mark", "\xEF\xBB\xBFG01 X1.0\n", 0, "", move_1},
    script_case{"utf8_in_comments",
                "// Fr\xC3\xA4se \xC3\xB8"
                "6\nG01 X1.0 (Tiefe \xC2\xBD)\n",
                0, "", move_1},
    // Long lines: a line is one line however long; only a comment line
    // may be longer than 2047 characters.
    script_case{"line_of_100000_letters", std::string(100000, 'A') + "\n", 1,
                line_too_long("job.nc:1", std::string(2047, 'A')), ""},
    script_case{"move_with_100000_blanks", "G01 X1.0" + std::string(99992, ' ') + "\nG01 X2.0\n", 1,
                line_too_long("job.nc:1", "G01 X1.0" + std::string(2039, ' ')), ""},
    script_case{"comment_of_100000_characters", "REM " + std::string(99996, 'x') + "\n", 0, "", ""},
    // Long numbers: read whole.
    script_case{"number_of_31_characters", "G20\nG01 X" + padded("1.5", 31) + "\n", 0, "",
                home_lines + "x_move_steps r 910\n"},
    script_case{"number_of_200_characters", "G20\nG01 X" + padded("1.5", 200) + "\n", 0, "",
                home_lines + "x_move_steps r 910\n"},
    script_case{"fraction_of_198_digits", "G20\nG01 X1." + std::string(198, '0') + "\n", 0, "",
                home_lines + "x_move_steps r 607\n"},
    script_case{"integer_of_31_digits", "G20\nG01 X1" + std::string(30, '0') + "\n", 1,
                out_of_range("job.nc:2", "G01 X1" + std::string(30, '0')), home_lines},
    script_case{"integer_of_200_digits", "G20\nG01 X" + std::string(200, '9') + "\n", 1,
                out_of_range("job.nc:2", "G01 X" + std::string(200, '9')), home_lines},
    script_case{"beyond_a_double", "G20\nG01 Y-" + std::string(400, '9') + "\n", 1,
                out_of_range("job.nc:2", "G01 Y-" + std::string(400, '9')), home_lines},
    script_case{"depth_of_200_digits",
                "set_work_surface_depth_below_top_of_z " + std::string(200, '9') + "\n", 1,
                message("Depth out of range @ job.nc:1",
                        "Work-surface depth out of range @ job.nc:1:\n    "
                        "set_work_surface_depth_below_top_of_z " +
                            std::string(200, '9') +
                            "\nIts step count does not fit the machine's step arithmetic."),
                ""},
    script_case{"pauses_of_200_digits",
                "set_chg_dirs_sleep_ms " + std::string(200, '9') + "\nG01 X1.0\n", 0, "", move_1},
    script_case{"line_number_of_200_digits", "N" + std::string(200, '9') + " G01 X1.0\n", 0, "",
                move_1},
    // Paths and includes.
    script_case{"include_path_of_5000_characters",
                "G01 X1.0\ninclude " + std::string(4992, 'a') + "\nG01 X2.0\n", 1,
                line_too_long("job.nc:2", "include " + std::string(2039, 'a')), move_1},
    script_case{"include_of_a_folder", "G01 X1.0\ninclude .\nG01 X2.0\n", 1, "", move_1},
    script_case{"include_of_a_file_that_fails_to_read",
                "G01 X1.0\ninclude /proc/self/mem\nG01 X2.0\n", 1, "", move_1},
    script_case{"self_include", "include job.nc\n", 1,
                message("Include too deep @ job.nc:1",
                        "Includes are nested more than 32 deep @ job.nc:1 (does a file "
                        "include itself?):\n    include job.nc"),
                ""},
    // The link's name.
    script_case{
        "file_link_name_of_1000_characters", "open comm " + std::string(1000, 'n') + "\nG01 X1.0\n",
        1,
        message("Failed to Open COMM Port",
                "An error occurred while trying to open File \"" + std::string(1000, 'n') + "\""),
        ""},
    script_case{"serial_port_name_of_1000_characters",
                "open comm COM" + std::string(997, '9') + "\nG01 X1.0\n", 1,
                message("Failed to Open COMM Port",
                        "An error occurred while trying to open Serial Port \"COM" +
                            std::string(997, '9') + "\""),
                ""}};

TEST(HostileScripts, EndAsDecided) {
  for (const script_case& c : hostile_cases) {
    SCOPED_TRACE(c.name);
    run_case(c);
  }
}

TEST(HostileIncludes, NestThirtyTwoDeepAndNoDeeper) {
  // n0 includes n1, ..., n(depth-1) includes n(depth), which moves X; at 100
  // files the run stops at the limit once.
  for (int depth : {32, 33, 100}) {
    SCOPED_TRACE(depth);
    temp_dir dir;
    for (int i = 0; i < depth; ++i)
      dir.write("n" + std::to_string(i) + ".nc", "include n" + std::to_string(i + 1) + ".nc\n");
    dir.write("n" + std::to_string(depth) + ".nc", "G01 X1.0\n");
    const dry_run_outcome r = run_dry(dir, "n0.nc");
    if (depth == 32) {
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.log, move_1);
      EXPECT_EQ(r.messages, "");
    } else {
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.log, "");
      EXPECT_EQ(r.messages, message("Include too deep @ n32.nc:1",
                                    "Includes are nested more than 32 deep @ n32.nc:1 (does a "
                                    "file include itself?):\n    include n33.nc"));
    }
  }
}

}  // namespace
