#include "convert/prep_options.h"

#include <charconv>
#include <cmath>
#include <cstring>

const char millprep_usage[] =
    "Usage: millprep INPUT [-o OUTPUT] [--tolerance INCHES] [--units in|mm] [--shift X,Y,Z]\n"
    "                [--fit] [--dwell-units s|ms] [--split-tools] [--no-merge]\n"
    "\n"
    "Converts G-code as CAM programs write it (millimetres or inches, arcs, canned\n"
    "drilling cycles, modal words in any order) into the dialect millrun reads.\n"
    "\n"
    "  -o OUTPUT          write the job to OUTPUT (written whole or not at all);\n"
    "                     standard output without it\n"
    "  --tolerance IN     largest distance between the written and the input path,\n"
    "                     in inches (default 0.001, at least 0.0002)\n"
    "  --units in|mm      units of a job that gives neither G20 nor G21\n"
    "  --shift X,Y,Z      inches added to every target\n"
    "  --fit              shift X and Y so that the job's least X and Y are 0\n"
    "  --dwell-units s|ms unit of the P word of G4 and G82 (default s)\n"
    "  --split-tools      one output file per tool or program stop: OUTPUT.t1.nc, ...\n"
    "  --no-merge         keep every feed move as its own line\n"
    "  --help, --version\n"
    "\n"
    "Exit code: 0 converted, 1 the job holds something that cannot be converted\n"
    "faithfully, 2 a usage error or an unreadable input.\n";

namespace {

bool read_number(const char* text, size_t length, double& value) {
  const char* start = text;
  if (length > 0 && *start == '+') ++start;
  auto parsed = std::from_chars(start, text + length, value, std::chars_format::fixed);
  return parsed.ec == std::errc() && parsed.ptr == text + length && length > 0 &&
         std::isfinite(value);
}

void fail(prep_options& options, const std::string& text) {
  if (options.error.empty()) options.error = text;
}

bool takes_value(const std::string& word) {
  return word == "-o" || word == "--tolerance" || word == "--units" || word == "--shift" ||
         word == "--dwell-units";
}

// Three numbers in inches, X,Y,Z, each within 10000.
void read_shift(prep_options& options, const std::string& value) {
  size_t from = 0;
  int axis = 0;
  for (; axis < 3; ++axis) {
    size_t comma = value.find(',', from);
    size_t to = axis < 2 ? comma : value.size();
    if (to == std::string::npos ||
        !read_number(value.c_str() + from, to - from, options.shift[axis]) ||
        std::fabs(options.shift[axis]) > 10000)
      break;
    from = to + 1;
  }
  if (axis < 3) fail(options, "--shift takes three numbers in inches, X,Y,Z: " + value);
}

// An option that takes a value (takes_value(word) holds).
void take_valued_option(prep_options& options, const std::string& word, const char* value) {
  std::string text = value;
  if (word == "-o") {
    if (!options.output.empty()) fail(options, "-o is given twice");
    options.output = text;
    if (options.output.empty()) fail(options, "-o needs a file name");
  } else if (word == "--tolerance") {
    if (!read_number(value, std::strlen(value), options.tolerance) || options.tolerance < 0.0002 ||
        options.tolerance > 1)
      fail(options,
           "--tolerance takes inches from 0.0002 to 1 (output is rounded to 0.0001 in): " + text);
  } else if (word == "--units") {
    if (text == "in")
      options.units = 20;
    else if (text == "mm")
      options.units = 21;
    else
      fail(options, "--units takes in or mm: " + text);
  } else if (word == "--dwell-units") {
    if (text == "s")
      options.dwell_in_ms = false;
    else if (text == "ms")
      options.dwell_in_ms = true;
    else
      fail(options, "--dwell-units takes s or ms: " + text);
  } else {
    read_shift(options, text);
  }
}

// A flag, or the input file.
void take_word(prep_options& options, const std::string& word) {
  if (word == "--help" || word == "-h") {
    options.help = true;
  } else if (word == "--version") {
    options.version = true;
  } else if (word == "--fit") {
    options.fit = true;
  } else if (word == "--split-tools") {
    options.split_tools = true;
  } else if (word == "--no-merge") {
    options.merge = false;
  } else if (word.size() > 1 && word[0] == '-') {
    fail(options, "unknown option " + word);
  } else if (options.input.empty()) {
    options.input = word;
  } else {
    fail(options, "more than one input file: " + word);
  }
}

}  // namespace

prep_options parse_prep_arguments(int argc, const char* const* argv) {
  prep_options options;
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    bool valued = takes_value(word);
    if (valued && i + 1 >= argc) {
      fail(options, word + " needs a value");
      break;
    }
    // Every option but -o, as given, for the output's header.
    if (word != "-o" && word.rfind("-", 0) == 0 && word != "-") {
      options.given += (options.given.empty() ? "" : " ") + word;
      if (valued) options.given += std::string(" ") + argv[i + 1];
    }
    if (valued)
      take_valued_option(options, word, argv[++i]);
    else
      take_word(options, word);
  }
  if (options.help || options.version) return options;
  if (options.input.empty()) fail(options, "no input file");
  if (options.split_tools && options.output.empty()) fail(options, "--split-tools needs -o OUTPUT");
  return options;
}

std::string part_file_name(const std::string& output, int part) {
  size_t slash = output.find_last_of("/\\");
  size_t dot = output.find_last_of('.');
  std::string tag = ".t" + std::to_string(part);
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    return output + tag;
  return output.substr(0, dot) + tag + output.substr(dot);
}
