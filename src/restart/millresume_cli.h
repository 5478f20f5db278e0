// millresume's command line: SCRIPT LINE read into the run's options, and
// its usage text. The program after that is millrun's run, resumed.
#pragma once

#include <string>

#include "runner/run_options.h"

/// What the command line asks for.
struct millresume_command {
  bool help = false;
  bool version = false;
  std::string error;  // a usage error to show, else empty
  /// --continue: the line comes from RunJournal.txt (continue_from_journal).
  bool from_journal = false;
  /// The run: the script, the line to resume at, the output files written,
  /// dwells waiting and the real ports, as millrun runs.
  run_options run;
};

/// Exit code of a usage error. 0 and 1 keep millrun's meanings (ran to its
/// end, did not), so that a script can tell a mistyped command, after which
/// nothing was opened or sent, from a job that failed on the machine.
constexpr int millresume_usage_exit_code = 2;

/// Reads a resume line: "N" (line N of the top-level script) or "FILE:N"
/// (line N of FILE, named as its include line names it). FILE may hold ':'
/// itself ("C:\jobs\holes.nc:12"): the split is at the last one. N is a
/// positive decimal number that fits an int, digits only. False, with
/// `error` set, for anything else; `point` is then untouched.
bool parse_restart_line(const std::string& text, restart_point& point, std::string& error);

/// Reads millresume's arguments: "--help", "--version", "--" (ends the
/// options), then SCRIPT LINE. LINE is the last argument; the ones before
/// it, joined with one blank each, are the script path, as millrun takes it.
millresume_command parse_millresume_arguments(int argc, const char* const* argv);

/// Whether the script can be opened for reading; `why` then says why not
/// ("No such file or directory"). millresume names an unreadable script
/// before anything runs, where millrun itself stops in silence.
bool script_readable(const std::string& script, std::string& why);

/// For --continue: reads RunJournal.txt in the working directory and sets
/// the run's line from it. False, with `message` set, when there is no
/// journal or it is refused; else `message` says which line and why.
bool continue_from_journal(millresume_command& command, std::string& message);

extern const char* const millresume_usage;
