// A child process that a test watches while it runs: its output is collected
// as it comes, the test waits (bounded) until the child has reached a point,
// signals it there, and waits (bounded) for its end. Also the wrapper that
// runs millrun under a tool such as valgrind for every test that starts it.
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

/// Where the child's standard output goes.
enum class child_output {
  captured,     // a pipe the test reads
  closed,       // no descriptor 1 at all
  broken_pipe,  // a pipe whose reading end is already closed
  full_device,  // /dev/full: every write fails with "no space"
};

class live_process {
 public:
  live_process() = default;
  ~live_process();
  live_process(const live_process&) = delete;
  live_process& operator=(const live_process&) = delete;

  /// Starts `argv` (argv[0] a path; millrun gets the test wrapper) in `cwd`
  /// with extra "NAME=value" environment entries. The child starts with the
  /// default action for every stop signal and SIGPIPE, none blocked.
  bool start(const std::vector<std::string>& argv, const std::string& cwd,
             const std::vector<std::string>& env = {},
             child_output output = child_output::captured, bool close_stderr = false);

  /// Collects output until `condition` holds (true) or `timeout_ms` pass or
  /// the child ends (false). The condition is tested every few milliseconds.
  bool wait_until(const std::function<bool()>& condition, int timeout_ms);

  /// Closes the test's end of the standard-output pipe (a reader that went
  /// away, like `head -1` after its line).
  void close_output();

  bool signal(int signal_number);

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
