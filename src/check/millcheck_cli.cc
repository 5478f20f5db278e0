#include "check/millcheck_cli.h"

#include "check/check_report.h"
#include "check/check_run.h"
#include "check/machine_profile.h"
#include "platform/platform.h"

const char* const millcheck_usage =
    "Usage: millcheck SCRIPT [--x MIN:MAX] [--y MIN:MAX] [--z MIN:MAX]\n"
    "                        [--profile FILE] [--json]\n"
    "\n"
    "Checks a milling job before the stock is clamped: whether millrun accepts\n"
    "every line and whether every move stays within the machine's travel.\n"
    "The job is run as on the machine (homing before the first line's command),\n"
    "from the working directory, without a machine: no KelCodeOutput.txt or\n"
    "EnvelopeReport.txt is written, dwells do not wait, and an \"open comm\" line\n"
    "is answered by a stand-in controller. It does not stop at the first\n"
    "problem: each refused line is reported and passed over, each position\n"
    "beyond the limits is reported, as FILE:LINE: what is wrong: the line.\n"
    "At the end: the envelope in inches and steps, the number of commands, the\n"
    "machine-time estimate and a verdict.\n"
    "\n"
    "  --x MIN:MAX     travel limits of X in inches, in the script's coordinates;\n"
    "  --y MIN:MAX     either bound may be left empty (--z :2.11); an option\n"
    "  --z MIN:MAX     replaces the profile's line for its axis\n"
    "  --profile FILE  read the limits from a machine profile: lines such as\n"
    "                  \"x = 0:12\" and \"z = :2.11\", comments from #\n"
    "  --json          print the report as one JSON object\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit code 0 when the job fits and every line is accepted, 1 when problems\n"
    "were found, 2 for a usage error or a script or profile that cannot be read.\n";

namespace {

constexpr const char* axis_options[run_axis_count] = {"--x", "--y", "--z"};

/// Splits "--name=value" into its name and value; `has_value` tells whether
/// there was an "=".
std::string option_name(const std::string& arg, std::string& value, bool& has_value) {
  const size_t equals = arg.find('=');
  has_value = arg.rfind("--", 0) == 0 && equals != std::string::npos;
  if (!has_value) return arg;
  value = arg.substr(equals + 1);
  return arg.substr(0, equals);
}

/// Whether `path` is a regular file that can be opened and read: a
/// directory, a device or a FIFO is said so before anything runs.
bool readable(const std::string& path) {
  std::FILE* file = platform_open_regular_file(path.c_str());
  if (!file) return false;
  std::fgetc(file);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

}  // namespace

namespace {

/// Takes the option `arg` (and its value, from the next argument where it
/// has no "=VALUE"). False, with `o.error` set, on a usage error.
bool take_option(const std::string& arg, int argc, const char* const* argv, int& i,
                 millcheck_options& o, bool& profile_given) {
  std::string value;
  bool has_value = false;
  const std::string name = option_name(arg, value, has_value);
  if (name == "--help" || name == "-h" || name == "--version" || name == "--json") {
    if (has_value) o.error = name + " takes no value";
    (name == "--json" ? o.json : name == "--version" ? o.version : o.help) = true;
    return !has_value;
  }
  int axis = -1;
  for (int a = 0; a < run_axis_count; ++a)
    if (name == axis_options[a]) axis = a;
  if (axis < 0 && name != "--profile") {
    o.error = "unknown option " + arg + " (a script named so: -- " + arg + ")";
    return false;
  }
  if (!has_value) {
    if (i + 1 >= argc) {
      o.error = name + (axis >= 0 ? " needs MIN:MAX" : " needs a file name");
      return false;
    }
    value = argv[++i];
  }
  if (axis < 0) {
    if (profile_given) o.error = "only one --profile FILE may be given";
    if (value.empty()) o.error = "--profile needs a file name";
    o.profile = value;
    profile_given = true;
    return o.error.empty();
  }
  if (o.given[axis]) {
    o.error = name + " may be given once";
    return false;
  }
  std::string range_error;
  if (!read_travel_range(value, axis, o.limits, range_error)) {
    o.error = name + ": " + range_error;
    return false;
  }
  o.given[axis] = true;
  return true;
}

}  // namespace

millcheck_options parse_millcheck_arguments(int argc, const char* const* argv) {
  millcheck_options options;
  bool options_end = false;
  bool profile_given = false;
  bool script_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_end && arg == "--") {
      options_end = true;
      continue;
    }
    // A lone "-" is a name, as the shell passes it.
    if (!options_end && arg.size() > 1 && arg[0] == '-') {
      if (!take_option(arg, argc, argv, i, options, profile_given)) return options;
      continue;
    }
    if (script_given) options.script += ' ';
    options.script += arg;
    script_given = true;
  }
  if (!options.help && !options.version && options.script.empty())
    options.error = "no script given";
  return options;
}

bool merged_limits(const millcheck_options& options, travel_limits& limits, std::string& error) {
  machine_profile profile;
  if (!options.profile.empty() && !read_machine_profile_file(options.profile, profile, error))
    return false;
  limits = profile.limits;
  for (int a = 0; a < run_axis_count; ++a) {
    if (!options.given[a]) continue;
    limits.has_min[a] = options.limits.has_min[a];
    limits.has_max[a] = options.limits.has_max[a];
    limits.min[a] = options.limits.min[a];
    limits.max[a] = options.limits.max[a];
  }
  return true;
}

int run_millcheck(const millcheck_options& options, std::FILE* out, std::FILE* err) {
  travel_limits limits;
  std::string error;
  if (!merged_limits(options, limits, error)) {
    std::fprintf(err, "millcheck: %s\n", error.c_str());
    return check_usage_error;
  }
  if (!readable(options.script)) {
    std::fprintf(err, "millcheck: %s: the script cannot be read (or is no regular file)\n",
                 options.script.c_str());
    return check_usage_error;
  }
  // With no limits given at all, a move behind a home switch is a warning:
  // a limit given (even one side left open) is the user's word on the rest.
  bool any_given = !options.profile.empty();
  for (int a = 0; a < run_axis_count; ++a) any_given = any_given || options.given[a];
  const check_result result = run_check(options.script, limits, !any_given);
  const bool written = options.json ? write_check_json(result, out) : write_check_text(result, out);
  // Once, however many lines of CAM output were refused.
  if (!result.convert_hint.empty()) std::fprintf(err, "%s\n", result.convert_hint.c_str());
  if (!written) {
    std::fprintf(err, "millcheck: the report could not be written\n");
    return check_problems;
  }
  return result.fits() ? check_fits : check_problems;
}
