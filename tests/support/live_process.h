// The one harness for the processes the tests start (millrun, millsim): a
// child whose output is collected as it comes (or sent to files, or taken
// away), that a test waits for (bounded) until it has reached a point,
// signals there, and waits (bounded) for its end. Every wait has a time
// limit, so a program that hangs fails its test instead of hanging it. Also
// the wrapper that runs millrun under a tool such as valgrind for every test
// that starts it. run_process (support/process.h) is its one-shot form.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

/// MILLRUN_TEST_WRAPPER (words split at blanks, e.g. "valgrind --quiet"):
/// when set, `argv` naming the millrun binary is returned with the wrapper's
/// words before it; any other `argv` is returned unchanged.
std::vector<std::string> with_test_wrapper(const std::vector<std::string>& argv);

/// MILLRUN_TEST_TIME_SCALE (a whole number, 1 when unset): how much longer a
/// child may take than usual, for runs under a slow wrapper.
int test_time_scale();

/// Where the child's standard output or standard error goes.
enum class child_output {
  captured,     // a pipe the test reads (into `out` or `err`)
  closed,       // no descriptor at all
  broken_pipe,  // a pipe whose reading end is already closed
  full_device,  // /dev/full: every write fails with "no space"
  file,         // a file, created or emptied (its path in child_streams)
};

struct child_streams {
  child_streams() = default;
  child_streams(child_output out_to, child_output err_to = child_output::captured)
      : out(out_to), err(err_to) {}
  /// Standard output and standard error each to a file.
  static child_streams to_files(const std::string& out_path, const std::string& err_path) {
    child_streams s(child_output::file, child_output::file);
    s.out_file = out_path;
    s.err_file = err_path;
    return s;
  }

  child_output out = child_output::captured;
  child_output err = child_output::captured;
  std::string out_file;  // with out == child_output::file
  std::string err_file;  // with err == child_output::file
};

class live_process {
 public:
  live_process() = default;
  ~live_process();
  live_process(const live_process&) = delete;
  live_process& operator=(const live_process&) = delete;

  /// Starts `argv` (argv[0] a path; millrun gets the test wrapper) in `cwd`
  /// with extra "NAME=value" environment entries (replacing an inherited
  /// entry of that name). Standard input is /dev/null. The child starts with
  /// the default action for every stop signal and SIGPIPE, none blocked.
  bool start(const std::vector<std::string>& argv, const std::string& cwd,
             const std::vector<std::string>& env = {}, const child_streams& streams = {});

  /// Collects output until `condition` holds (true) or `timeout_ms` pass or
  /// the child ends (false). The condition is tested every few milliseconds.
  bool wait_until(const std::function<bool()>& condition, int timeout_ms);

  /// Closes the test's end of the standard-output pipe (a reader that went
  /// away, like `head -1` after its line).
  void close_output();

  bool signal(int signal_number);

  /// Waits at most `timeout_ms` until the child has sat blocked for
  /// `quiet_ms`: asleep, without a single context switch in between (a wait
  /// for a reply that never comes). False when it ended or kept running.
  bool wait_until_held(int quiet_ms, int timeout_ms);

  /// Waits at most `timeout_ms` for the end, collecting output; kills the
  /// child after that. True when it exited by itself.
  bool wait_exit(int timeout_ms);

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }
  int exit_code = -1;        // after wait_exit; -1 when killed by a signal
  int killed_by_signal = 0;  // the signal that ended it, if one did
  std::string out;
  std::string err;

 private:
  void collect(int timeout_ms);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
};

/// What a process is doing, from /proc (Linux).
enum class process_activity {
  running,          // on a CPU or ready to run
  waiting,          // blocked in a wait without a time limit (a reply, an open)
  timed_wait,       // blocked in a wait with a time limit (a dwell, a pulse)
  blocked_unknown,  // blocked, but /proc does not say in what
  gone,
};
process_activity activity_of(pid_t pid);
