// The converter from general G-code to millrun's dialect: the modal state
// of a CAM program (units, distance mode, plane, motion, the drilling
// cycle, the tool) and the conversion of one line at a time into moves,
// which go through segment merging to the writer. The input is read as a
// stream; memory does not grow with the job.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/machine_defaults.h"
#include "convert/canned_cycle.h"
#include "convert/job_writer.h"
#include "convert/prep_options.h"
#include "convert/segment_merge.h"

/// What a conversion did, for the summary line.
struct convert_totals {
  long input_lines = 0;
  long motion_lines = 0;
  long arcs = 0;
  long merged = 0;  // feed moves folded into the line before them
  double deviation = 0;
  bool moved = false;
  long long least[3] = {0, 0, 0};
  long long most[3] = {0, 0, 0};
};

/// The converter's whole state: one record, reset by a fresh value.
struct convert_state {
  const prep_options* options = nullptr;
  bool measure_only = false;  // the first pass of --fit: nothing is written
  bool quiet = false;         // no warnings (the first pass of --fit)
  std::string input_name;

  // The modal state of the job.
  int units = 0;  // 20 inches, 21 millimetres, 0 not yet said
  bool absolute = true;
  bool arc_centers_absolute = false;
  int plane = 17;
  int motion = -1;       // 0, 1, 2, 3, 73, 81, 82, 83; -1 none yet
  int last_linear = -1;  // the last G0 or G1, which coordinates after G80 continue
  point3 position;       // job inches
  bool position_set = false;
  double home_z = z_home_inches;
  double shift[3] = {0, 0, 0};

  // The drilling cycle.
  drill_cycle cycle;
  bool cycle_active = false, cycle_has_r = false, cycle_has_z = false;
  double cycle_start_z = 0;
  bool retract_to_start = true;  // G98

  // Parts of the job between tools or program stops.
  std::vector<std::string> keyword_lines;  // millrun keywords to repeat in each part
  bool part_begun = false;
  int part = 0;
  bool cut = false;  // a feed move since the part began
  bool has_tool = false;
  double tool = 0;
  long break_line = 0;  // a pending tool change or stop, 0 when none
  std::string break_text, break_why;
  std::vector<std::string> break_words;  // the break's M and T words, for the next part's head
  long part_first_motion = 0;            // the writer's motion-line count when the part began
  long tool_line_at = -1;   // where the part's tool is named in its file, until it is known
  long end_line = 0;        // the last M2/M30 not yet followed by more of the job
  std::string end_words;    // its line's words, written at the end (a comment if more follows)
  bool words_seen = false;  // a line with G-code words was read: a % line now closes the program
  long closed_line = 0;     // the line of the closing %, 0 while the program runs
  bool after_close_told = false;

  merge_run run;
  job_writer writer;
  std::FILE* file = nullptr;
  std::FILE* sink = nullptr;  // when set, every part is written here (tests)
  std::vector<std::string> temp_names, final_names;

  convert_totals totals;
  bool fit_seen = false;
  double fit_least[2] = {0, 0};

  std::string failure;  // the message of a refused line
  int failure_code = 0;
};

/// Converts one input line (without its line end). False when the line
/// cannot be converted faithfully; `state.failure` then holds the message.
bool convert_line(convert_state& state, const char* line, size_t length, long number);

/// Writes what is still pending at the end of the input.
bool finish_conversion(convert_state& state);

/// The whole program: both passes, the output files, the summary line.
/// Returns the exit code.
int run_millprep(const prep_options& options);
