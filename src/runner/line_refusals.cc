#include "runner/line_refusals.h"

#include <cstdio>
#include <cstring>

namespace {

using tr = translation_result;

const refusal_entry refusals[] = {
    {tr::unknown_gcode, "Unknown GCode @ %s:%d", "Invalid GCode @ %s:%d:\r    %s",
     "Unknown GCode", ""},
    {tr::unsupported_mode, "Unsupported GCode @ %s:%d",
     "Unsupported GCode @ %s:%d:\r    %s\r"
     "millrun takes inches (G20) and absolute coordinates (G90) only.",
     "Unsupported GCode", "millimetres (G21) or relative coordinates (G91)"},
    {tr::lost_operands, "Unsupported GCode @ %s:%d",
     "Unsupported GCode @ %s:%d:\r    %s\r"
     "millrun reads X, Y and Z in that order, each at most one blank after the last and "
     "followed directly by a plain number (1.5, -0.25); the rest of this line would be lost.",
     "Unsupported GCode", "an axis word that would be dropped or misread"},
    {tr::exponent_number, "Unsupported GCode @ %s:%d",
     "Unsupported GCode @ %s:%d:\r    %s\r"
     "millrun does not read numbers in exponent form (1e2): write the number out (100).",
     "Unsupported GCode", "a number in exponent form"},
    {tr::ignored_with_words, "Unsupported GCode @ %s:%d",
     "Unsupported GCode @ %s:%d:\r    %s\r"
     "A line that begins with M, T, S or F is not read for moves: its axis words and G words "
     "would be lost. Put them on a line of their own.",
     "Unsupported GCode", "an axis word or G word on a line that begins with M, T, S or F"},
    {tr::program_stop, "Unsupported GCode @ %s:%d",
     "Unsupported GCode @ %s:%d:\r    %s\r"
     "A program stop or tool change (M0, M1, M6, M60) once the job has moved is not carried "
     "out: the job would go on cutting. Split the job at its stops and tool changes with "
     "millprep --split-tools and run the parts one by one.",
     "Unsupported GCode",
     "a program stop or tool change once the job has moved; split the job with millprep "
     "--split-tools"},
    {tr::subprogram, "Unsupported GCode @ %s:%d",
     "Unsupported GCode @ %s:%d:\r    %s\r"
     "millrun does not run subprograms (M98, M99): post the job with its moves written out.",
     "Unsupported GCode", "a subprogram call or return (M98, M99)"},
    {tr::after_program_end, "Unsupported GCode @ %s:%d",
     "Unsupported GCode @ %s:%d:\r    %s\r"
     "This motion line comes after the program end (M2 or M30) of its file, where the "
     "program has stopped.",
     "Unsupported GCode", "a motion line after the program end (M2/M30)"},
    {tr::out_of_range, "Target out of range @ %s:%d",
     "Target out of range @ %s:%d:\r    %s\r"
     "Its step count does not fit the machine's step arithmetic.",
     "Target out of range", "its step count does not fit the machine's step arithmetic"},
};

}  // namespace

const refusal_entry& refusal_for(translation_result result) {
  for (const refusal_entry& entry : refusals)
    if (entry.result == result) return entry;
  return refusals[0];
}

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
