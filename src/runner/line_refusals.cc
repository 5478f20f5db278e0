#include "runner/line_refusals.h"

#include <cstdio>
#include <cstring>

#include "common/message.h"
#include "common/run_events.h"

namespace {

/// Whether the run passes refused lines over; the one reset forgets it.
struct refusals_record {
  bool pass_over = false;
};
refusals_record refusals;

// Sentences that more than one row says.
constexpr const char* step_count = "Its step count does not fit the machine's step arithmetic.";
constexpr const char* not_text = "Byte %s is not text; a script is plain text (ASCII or UTF-8).";
constexpr const char* unsupported = "Unsupported GCode";
constexpr const char* unsupported_lead = "Unsupported GCode @ %s:%d";

using k = refusal;

// NOTE: the rows stand in the order of the kinds (checked below), so that a
// kind finds its row by its number; a new kind is one enumerator and one row.
constexpr refusal_entry table[] = {
    {k::unknown_gcode, "Unknown GCode", "Invalid GCode @ %s:%d", {}, ""},
    {k::unsupported_mode,
     unsupported,
     unsupported_lead,
     {"millrun takes inches (G20) and absolute coordinates (G90) only."},
     "millimetres (G21) or relative coordinates (G91)"},
    {k::lost_operands,
     unsupported,
     unsupported_lead,
     {"millrun reads X, Y and Z in that order, each at most one blank after the last and "
      "followed directly by a plain number (1.5, -0.25); the rest of this line would be lost."},
     "an axis word that would be dropped or misread"},
    {k::exponent_number,
     unsupported,
     unsupported_lead,
     {"millrun does not read numbers in exponent form (1e2): write the number out (100)."},
     "a number in exponent form"},
    {k::ignored_with_words,
     unsupported,
     unsupported_lead,
     {"A line that begins with M, T, S or F is not read for moves: its axis words and G words "
      "would be lost. Put them on a line of their own."},
     "an axis word or G word on a line that begins with M, T, S or F"},
    {k::program_stop,
     unsupported,
     unsupported_lead,
     {"A program stop or tool change (M0, M1, M6, M60) once the job has moved is not carried "
      "out: the job would go on cutting. Split the job at its stops and tool changes with "
      "millprep --split-tools and run the parts one by one."},
     "a program stop or tool change once the job has moved; split the job with millprep "
     "--split-tools"},
    {k::subprogram,
     unsupported,
     unsupported_lead,
     {"millrun does not run subprograms (M98, M99): post the job with its moves written out."},
     "a subprogram call or return (M98, M99)"},
    {k::after_program_end,
     unsupported,
     unsupported_lead,
     {"This motion line comes after the program end (M2 or M30) of its file, where the "
      "program has stopped."},
     "a motion line after the program end (M2/M30)"},
    {k::target_out_of_range,
     "Target out of range",
     "Target out of range @ %s:%d",
     {step_count},
     nullptr},
    // A rejected home reply shows no message of its own: this one names the line.
    {k::homing_failed,
     "Homing failed",
     "The machine could not be homed before the command of @ %s:%d",
     {"Nothing more is sent. The controller's reply is in the trace."},
     ""},
    {k::unknown_command, "Unknown command", "Invalid command @ %s:%d", {}, ""},
    {k::invalid_character,
     "Invalid character",
     "Invalid character @ %s:%d",
     {not_text},
     "a byte that is not text"},
    {k::invalid_zero_byte,
     "Invalid character",
     "Invalid character @ %s:%d",
     {not_text, "A file saved as UTF-16 holds a zero byte in every other column."},
     "a byte that is not text"},
    {k::include_too_deep,
     "Include too deep",
     "Includes are nested more than 32 deep @ %s:%d (does a file include itself?)",
     {},
     "includes are nested more than 32 deep"},
    {k::include_of_itself,
     "Include too deep",
     "The file includes itself @ %s:%d",
     {},
     "the file includes itself"},
    {k::include_missing,
     "Include file missing",
     "The included file cannot be read @ %s:%d",
     {},
     "the included file cannot be read"},
    {k::depth_out_of_range,
     "Depth out of range",
     "Work-surface depth out of range @ %s:%d",
     {step_count},
     nullptr},
    {k::depth_after_homing,
     "Depth after homing",
     "The work-surface depth is set after the machine was homed @ %s:%d",
     {"Set it before the first G-code line; the homing that line causes takes Z to the depth."},
     "the depth must be set before the first G-code line"},
    {k::line_too_long,
     "Line too long",
     "The line is longer than 2047 characters @ %s:%d; only a comment line may be longer. It "
     "begins",
     {},
     "a line may hold at most 2047 characters"},
    {k::no_machine_to_restart,
     "No machine to resume on",
     "The job would go on @ %s:%d",
     {"but no \"open comm\" line comes before it, so there is no machine to home and drive "
      "there. Nothing was sent."},
     ""},
    {k::approach_failed,
     "Approach failed",
     "The machine was homed to go on @ %s:%d",
     {"but the controller refused the approach move \"%s\". Nothing more is sent."},
     ""},
};

constexpr bool rows_in_kind_order() {
  int i = 0;
  for (const refusal_entry& row : table)
    if (static_cast<int>(row.kind) != i++) return false;
  return i == static_cast<int>(refusal::count);
}
static_assert(rows_in_kind_order(), "one row per refusal kind, in the order of the kinds");

/// The text of a message is made in pieces; each piece goes after the last,
/// so a text too long for its buffer is cut at its end as one format would.
size_t end_of(const char* text, size_t used) { return used + std::strlen(text + used); }

bool tell(refusal kind, const line_place& where, const char* detail, bool convertible) {
  if (refusals.pass_over) {
    char why[256];
    emit_line_refused({where.path, where.line_number, where.text, refusal_row(kind).caption,
                       refusal_why(kind, why, sizeof why), convertible});
    return true;
  }
  message_buffers& m = shared_message();
  format_refusal(kind, where, detail, m.caption, sizeof m.caption, m.text, sizeof m.text);
  show_buffers(m);
  if (convertible) {
    char hint[1200];
    convert_hint(where.path, hint, sizeof hint);
    show_note(hint);
  }
  return false;
}

}  // namespace

const refusal_entry& refusal_row(refusal kind) {
  const int i = static_cast<int>(kind);
  return i >= 0 && i < static_cast<int>(refusal::count) ? table[i] : table[0];
}

refusal refusal_of(translation_result result) {
  using tr = translation_result;
  switch (result) {
    case tr::unsupported_mode:
      return refusal::unsupported_mode;
    case tr::lost_operands:
      return refusal::lost_operands;
    case tr::exponent_number:
      return refusal::exponent_number;
    case tr::ignored_with_words:
      return refusal::ignored_with_words;
    case tr::program_stop:
      return refusal::program_stop;
    case tr::subprogram:
      return refusal::subprogram;
    case tr::after_program_end:
      return refusal::after_program_end;
    case tr::out_of_range:
      return refusal::target_out_of_range;
    default:
      return refusal::unknown_gcode;
  }
}

void format_refusal(refusal kind, const line_place& where, const char* detail, char* caption,
                    size_t caption_size, char* text, size_t text_size) {
  const refusal_entry& row = refusal_row(kind);
  format_text(caption, caption_size, "%s @ %s:%d", row.caption, where.path, where.line_number);
  if (text_size == 0) return;
  format_text(text, text_size, row.lead, where.path, where.line_number);
  size_t used = end_of(text, 0);
  format_text(text + used, text_size - used, ":\r    %s", where.text);
  used = end_of(text, used);
  const char* separator = "\r";
  for (const char* sentence : row.sentences) {
    if (!sentence) break;
    format_text(text + used, text_size - used, "%s", separator);
    used = end_of(text, used);
    format_text(text + used, text_size - used, sentence, detail ? detail : "");
    used = end_of(text, used);
    separator = " ";
  }
}

const char* refusal_why(refusal kind, char* buffer, size_t size) {
  const refusal_entry& row = refusal_row(kind);
  if (row.why || !row.sentences[0] || size == 0) return row.why ? row.why : "";
  format_text(buffer, size, "%s", row.sentences[0]);
  if (buffer[0] >= 'A' && buffer[0] <= 'Z') buffer[0] = static_cast<char>(buffer[0] - 'A' + 'a');
  const size_t length = std::strlen(buffer);
  if (length > 0 && buffer[length - 1] == '.') buffer[length - 1] = '\0';
  return buffer;
}

bool refuse(refusal kind, const line_place& where, const char* detail) {
  return tell(kind, where, detail, false);
}

bool refuse_convertible(refusal kind, const line_place& where) {
  return tell(kind, where, "", true);
}

void configure_refusals(const run_options& options) { refusals.pass_over = options.skip_refused; }

void reset_refusals() { refusals = refusals_record{}; }

bool passing_refused_lines() { return refusals.pass_over; }

void convert_hint(const char* path, char* text, size_t size) {
  // The output beside the input: "job.nc" -> "job_millrun.nc"; a name
  // without an extension takes ".nc". A path with blanks goes in quotes.
  const size_t length = std::strlen(path);
  size_t name = 0;
  for (size_t i = 0; i < length; ++i)
    if (path[i] == '/' || path[i] == '\\') name = i + 1;
  size_t stem = length;
  for (size_t i = length; i > name + 1; --i) {
    if (path[i - 1] == '.') {
      stem = i - 1;
      break;
    }
  }
  const char* extension = stem < length ? path + stem : ".nc";
  const char* quote = std::strchr(path, ' ') ? "\"" : "";
  std::snprintf(text, size, "convert CAM output first: millprep %s%s%s -o %s%.*s_millrun%s%s",
                quote, path, quote, quote, static_cast<int>(stem), path, extension, quote);
}
