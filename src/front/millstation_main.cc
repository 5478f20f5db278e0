// millstation: runs a job as millrun runs it and serves a web page that
// shows and controls it. The order: the picture of the job, the server and
// its address, the check of the whole job, then the run; the final state is
// served for --linger seconds.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "check/check_run.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "preview/station_toolpath.h"
#include "restart/millresume_cli.h"
#include "runner/run_journal.h"
#include "runner/run_program.h"
#include "station/station_cli.h"
#include "station/station_hub.h"
#include "station/station_server.h"
#include "supervision/job_estimate.h"
#include "supervision/progress.h"

namespace {

/// The token from the command line, else MILLSTATION_TOKEN, else a random
/// one. False, with `error` set, when none can be had.
bool resolve_token(millstation_command& command, std::string& error) {
  if (!command.token.empty()) return true;
  const char* given = std::getenv("MILLSTATION_TOKEN");
  if (given && *given) {
    command.token = given;
    if (station_token_usable(command.token)) return true;
    error = "MILLSTATION_TOKEN: 1 to 256 letters, digits, \"-\", \".\", \"_\" or \"~\"";
    return false;
  }
  command.token = station_random_token();
  if (!command.token.empty()) return true;
  error = "no random token could be made; give one with --token";
  return false;
}

/// "FILE:LINE: what: the line" (FILE alone for the file as a whole).
std::string describe_problem(const check_problem& p) {
  std::string told = p.file;
  if (p.line > 0) told += ":" + std::to_string(p.line);
  told += ": " + p.what;
  if (!p.why.empty()) told += " (" + p.why + ")";
  if (!p.text.empty()) told += ": " + p.text;
  return told;
}

/// Checks the whole job before anything is sent; lists its problems on
/// standard error and on the page. True when the job may run.
bool check_before_run(const std::string& script, station_hub& hub) {
  // No travel limits are given to millstation: what stops a job partway is
  // a refused line or a file that cannot be read, not a move.
  const check_result result = run_check(script, travel_limits{}, false, true);
  if (result.fits()) {
    hub.set_job(result.commands, result.estimate_ms);
    return true;
  }
  char head[512];
  std::snprintf(head, sizeof head,
                "The job was not started: the check found %zu problem%s before the first command.",
                result.problems.size() + static_cast<size_t>(result.unlisted_problems),
                result.problems.size() + result.unlisted_problems == 1 ? "" : "s");
  std::fprintf(stderr, "millstation: %s\n", head);
  hub.add_message(head);
  for (const check_problem& p : result.problems) {
    const std::string told = describe_problem(p);
    std::fprintf(stderr, "%s\n", told.c_str());
    hub.add_message(told);
  }
  if (result.unlisted_problems > 0) {
    const std::string told = "... and " + std::to_string(result.unlisted_problems) + " more";
    std::fprintf(stderr, "%s\n", told.c_str());
    hub.add_message(told);
  }
  if (!result.convert_hint.empty()) {
    std::fprintf(stderr, "%s\n", result.convert_hint.c_str());
    hub.add_message(result.convert_hint);
  }
  std::fflush(stderr);
  return false;
}

/// The run itself, as millrun runs it, with the page's hold between lines.
int run_job(const std::string& script, station_hub& hub) {
  job_estimate estimate;
  progress_line progress(estimate);
  run_journal journal;
  run_options options;
  options.script = script;
  options.observers = {&estimate, &progress, &journal, &hub};
  options.gate = &hub;
  options.program_stops_pause = true;
  return run_program(options);
}

/// Serves the final state for `seconds`; Ctrl-C ends the wait. A stop asked
/// for on the page is no reason to leave early.
void linger(int seconds, const station_hub& hub) {
  if (seconds <= 0) return;
  if (platform_stop_requested() && !hub.stop_was_requested()) return;
  platform_clear_stop();
  platform_sleep_ms(static_cast<uint32_t>(seconds) * 1000u);
}

}  // namespace

int main(int argc, char** argv) {
  platform_fill_standard_streams();
  millstation_command command = parse_millstation_arguments(argc, argv);
  if (command.help) {
    std::fputs(millstation_usage, stdout);
    return 0;
  }
  if (command.version) {
    std::printf("millstation %s\n", MILLRUN_VERSION);
    return 0;
  }
  std::string error;
  if (command.error.empty() && !resolve_token(command, error)) command.error = error;
  if (!command.error.empty()) {
    std::fprintf(stderr, "millstation: %s\n\n%s", command.error.c_str(), millstation_usage);
    return millstation_usage_exit_code;
  }
  if (std::string why; !script_readable(command.script, why)) {
    std::fprintf(stderr, "millstation: cannot read %s: %s\n", command.script.c_str(), why.c_str());
    return 1;
  }
  platform_watch_stop_signals();

  // A script that cannot be drawn is served as an empty picture: the check
  // says what is wrong with it.
  std::string svg;
  if (!station_toolpath_svg(command.script, svg, error))
    svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1 1\"></svg>";
  station_hub hub;
  const station_server_options listen{command.host, command.port, command.token};
  if (!station_server_start(hub, listen, svg, error)) {
    std::fprintf(stderr, "millstation: cannot serve on %s:%d: %s\n", command.url_host.c_str(),
                 command.port, error.c_str());
    return millstation_usage_exit_code;
  }
  std::printf("millstation: http://%s:%d/?token=%s\n", command.url_host.c_str(),
              station_server_port(), command.token.c_str());
  std::fflush(stdout);

  const int exit_code = check_before_run(command.script, hub) ? run_job(command.script, hub) : 1;
  hub.finish(exit_code);
  linger(command.linger_s, hub);
  station_server_stop();
  return exit_code;
}
