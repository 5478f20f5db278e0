// One line at a time: millrun's own keywords and script comments pass
// through; a G-code line is read into its words, its G-codes set the modal
// state, and its machine words, dwell, home move or motion are converted in
// that order.
#include "convert/converter.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "convert/convert_messages.h"
#include "convert/home_moves.h"
#include "convert/job_coordinates.h"
#include "convert/job_output.h"
#include "convert/machine_words.h"
#include "convert/modal_codes.h"
#include "convert/motion_conversion.h"
#include "convert/word_reader.h"

namespace {

constexpr long longest_line = 8192;

void trim_blanks(const char*& line, size_t& length) {
  while (length > 0 &&
         (line[length - 1] == ' ' || line[length - 1] == '\t' || line[length - 1] == '\r'))
    --length;
  while (length > 0 && (*line == ' ' || *line == '\t')) ++line, --length;
}

bool is_keyword(const char* line, size_t length, const char* keyword) {
  size_t n = std::strlen(keyword);
  if (length <= n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != keyword[i]) return false;
  return line[n] == ' ';
}

bool is_millrun_keyword(const char* line, size_t length) {
  return is_keyword(line, length, "set_work_surface_depth_below_top_of_z") ||
         is_keyword(line, length, "set_chg_dirs_sleep_ms");
}

// millrun's own keywords, as a job written for it may hold them: kept for
// the header of every part; the work-surface depth also sets the home's Z.
bool take_keyword_line(convert_state& state, const char* line, size_t length, long number) {
  std::string text(line, length);
  if (state.position_set)
    return refuse_line(state, number, text,
                       "a millrun setting after the job's first G-code line: give it first");
  if (std::memchr(line, '\0', length))
    return refuse_line(state, number, text, "the line holds a control character");
  if (std::tolower(static_cast<unsigned char>(text[4])) == 'w') {
    double depth = std::atof(text.c_str() + 38);
    if (!(std::fabs(depth) <= 1000))
      return refuse_line(state, number, text, "the work-surface depth is out of range");
    state.home_z = depth;
  }
  state.keyword_lines.push_back(text);
  return true;
}

bool is_script_comment(const char* line, size_t length) {
  return (length >= 2 && line[0] == '/' && line[1] == '/') || line[0] == '\'' ||
         (length >= 3 && (line[0] == 'R' || line[0] == 'r') && (line[1] == 'E' || line[1] == 'e') &&
          (line[2] == 'M' || line[2] == 'm'));
}

// Comments of a millrun script: skipped by millrun, kept as they are.
bool copy_script_comment(convert_state& state, const char* line, size_t length) {
  std::string text = line[0] == '/' ? quoted_line(line, length) : "// " + quoted_line(line, length);
  if (!before_output(state)) return false;
  write_text_line(state.writer, text.c_str());
  return true;
}

// Words after M2 or M30 are converted too, with one warning; the end
// itself becomes a comment, since millrun runs nothing after it.
bool note_words_after_end(convert_state& state, const gcode_block& block, long number) {
  bool has_words = block.g_count + block.m_count > 0;
  for (int i = 0; i < 26 && !has_words; ++i) has_words = block.has[i];
  if (has_words) state.words_seen = true;
  if (state.end_line == 0 || !has_words) return true;
  warn_line(state, number,
            "the program ended on line " + std::to_string(state.end_line) +
                " (M2/M30); the lines after it are converted too");
  if (!before_output(state)) return false;
  write_text_line(state.writer,
                  ("; " + state.end_words + " (the program end, more follows)").c_str());
  state.end_line = 0;
  state.end_words.clear();
  return true;
}

// A % line: the first opens the program, one after its words closes it.
bool take_percent_line(convert_state& state, long number) {
  if (!state.words_seen) return false;
  state.closed_line = number;
  return true;
}

// Whatever follows the closing % is no part of the program.
bool skip_after_close(convert_state& state, const char* line, size_t length, long number) {
  trim_blanks(line, length);
  if (length == 0 || state.after_close_told) return true;
  warn_line(state, number,
            "the program ended with % on line " + std::to_string(state.closed_line) +
                "; the text after it, from this line on, is not converted");
  state.after_close_told = true;
  return true;
}

// The line's comments become one comment line of the output.
bool write_block_comment(convert_state& state, const gcode_block& block) {
  std::string comment = "; " + std::string(block.comment);
  if (block.program_number) comment = "; program " + comment.substr(2);
  while (!comment.empty() && comment.back() == ' ') comment.pop_back();
  if (state.break_line != 0) {
    state.break_words.push_back(comment);  // it belongs to the next part
    return true;
  }
  if (!before_output(state)) return false;
  write_text_line(state.writer, comment.c_str());
  return true;
}

bool convert_dwell(convert_state& state, const gcode_block& block, long number,
                   const std::string& text) {
  if (!block_has(block, 'P'))
    return refuse_line(state, number, text, "a dwell (G4) needs its time as a P word");
  double ms = block_value(block, 'P') * (state.options->dwell_in_ms ? 1 : 1000);
  if (ms < 0 || ms > 4294967295.0)
    return refuse_line(state, number, text,
                       "the dwell P is negative or longer than millrun can wait");
  if (!take_pending_break(state) || !before_output(state)) return false;
  warn_long_dwell(state, number, ms);
  write_dwell(state.writer, static_cast<unsigned long>(std::llround(ms)));
  return true;
}

}  // namespace

bool convert_line(convert_state& state, const char* line, size_t length, long number) {
  state.totals.input_lines = number;
  if (state.closed_line != 0) return skip_after_close(state, line, length, number);
  trim_blanks(line, length);
  if (length == 0) return true;
  if (*line == '%' && take_percent_line(state, number)) return true;
  if (length > longest_line)
    return refuse_line(state, number, quoted_line(line, length),
                       "the line is longer than 8192 characters");
  if (is_millrun_keyword(line, length)) return take_keyword_line(state, line, length, number);
  if (is_script_comment(line, length)) return copy_script_comment(state, line, length);

  // 1. The words; the job starts where millrun stands after homing.
  gcode_block block;
  const char* why = nullptr;
  std::string text = quoted_line(line, length);
  if (!read_gcode_block(line, length, block, why)) return refuse_line(state, number, text, why);
  start_at_home(state);
  if (!note_words_after_end(state, block, number)) return false;
  if (block.has_comment && !write_block_comment(state, block)) return false;

  // 2. The G-codes: settings first, then what moves.
  line_codes codes;
  if (!read_line_codes(state, block, number, text, codes)) return false;
  if (block_has(block, 'L'))
    return refuse_line(
        state, number, text,
        "the L repeat count is not supported: repeat the moves in the CAM program instead");

  // 3. M, S, F and T words become lines millrun ignores.
  if (!convert_machine_words(state, block, number, text)) return false;

  // 4. A dwell.
  if (codes.dwell && !convert_dwell(state, block, number, text)) return false;
  take_motion_word(state, codes.motion_word);

  // 5. Moves to millrun's home: G28/G30, and G53 in machine coordinates.
  if (codes.home_word >= 0 || codes.machine)
    return convert_home_move(state, block, number, text, codes.home_word >= 0, codes.machine);

  // 6. The motion of the line.
  return convert_motion(state, block, number, text, codes.motion_word);
}

bool finish_conversion(convert_state& state) {
  flush_run(state);
  if (state.part == 0 && !begin_part(state)) return false;  // an empty job still gets its header
  if (!state.break_words.empty() || !state.end_words.empty()) {
    // A tool change or stop after the last move, and the program's end.
    if (!ensure_part(state)) return false;
    write_break_words(state);
    if (!state.end_words.empty()) write_text_line(state.writer, state.end_words.c_str());
    state.end_words.clear();
  }
  return !state.part_begun || end_part(state);
}
