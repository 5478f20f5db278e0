// Every way the run refuses a script line, in one table: the message's
// caption and text, and what the check reports. A caller names the kind and
// the line's place: refuse(refusal::target_out_of_range, where). Also the
// advice that follows a refused line of CAM output.
#pragma once

#include <cstddef>

#include "common/line_place.h"
#include "gcode/command_composer.h"
#include "runner/run_options.h"

/// The kinds of refusal, in the order of the table's rows.
enum class refusal {
  // The G-code reading's refusals (see refusal_of).
  unknown_gcode,
  unsupported_mode,
  lost_operands,
  exponent_number,
  ignored_with_words,
  program_stop,
  subprogram,
  after_program_end,
  target_out_of_range,
  // The road's, after the reading.
  homing_failed,
  unknown_command,
  // The interpreter's: bytes, includes, keywords.
  invalid_character,  // detail: the byte and its column, "0x01 at column 3"
  invalid_zero_byte,  // the same for a zero byte, with a word on UTF-16
  include_too_deep,
  include_of_itself,
  include_missing,
  depth_out_of_range,
  depth_after_homing,
  line_too_long,
  // A resumed job's approach to its line.
  no_machine_to_restart,
  approach_failed,  // detail: the approach move the controller refused
  count
};

/// One row. The caption is "<caption> @ path:line"; the text is `lead`
/// (filled with the path and the line number), ":\r    " and the line, then
/// "\r" and the sentences, if any, joined by a blank; a sentence may hold one
/// "%s" for the caller's detail. The check reports the caption as what is
/// wrong and `why` as why; a null `why` is the first sentence, its first
/// letter in lower case and its stop dropped.
struct refusal_entry {
  refusal kind;
  const char* caption;
  const char* lead;
  const char* sentences[2];
  const char* why;
};

/// The row of `kind`.
const refusal_entry& refusal_row(refusal kind);

/// The refusal of a line the G-code reading gave `result`; unknown_gcode
/// for a result that is no refusal.
refusal refusal_of(translation_result result);

/// The message of a refusal: caption and text, each cut to its buffer.
void format_refusal(refusal kind, const line_place& where, const char* detail, char* caption,
                    size_t caption_size, char* text, size_t text_size);
/// What the check reports as why: the row's `why`, or the one its first
/// sentence gives, in `buffer`.
const char* refusal_why(refusal kind, char* buffer, size_t size);

/// Refuses the line at `where`: shows the message and returns false, which
/// stops the file. When the run passes refused lines over (the pre-cut
/// check), tells the refusal as an event instead and returns true.
/// `detail` fills the "%s" of a row whose sentence has one.
bool refuse(refusal kind, const line_place& where, const char* detail = "");
/// The same for a line of CAM output that millprep converts: the message
/// brings one more line of advice (convert_hint), the event says so.
bool refuse_convertible(refusal kind, const line_place& where);

/// Takes whether the run passes refused lines over; the reset forgets it.
void configure_refusals(const run_options& options);
void reset_refusals();
/// Whether refused lines are told and passed over (the pre-cut check).
bool passing_refused_lines();

/// The advice after a refused line of CAM output, for the file at `path`:
/// "convert CAM output first: millprep job.nc -o job_millrun.nc". The
/// output is suggested beside the input; a path with blanks is quoted.
void convert_hint(const char* path, char* text, size_t size);
