// Helpers for tests that talk to the controller simulator (millsim) over a
// real pseudo-terminal: start it in the background, find its device, talk
// to the device like millrun does, stop it and read its transcript. Every
// wait is bounded, so a simulator or client that hangs fails the test
// instead of hanging it.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "support/live_process.h"
#include "support/process.h"

/// The millsim binary built with the tests; empty when there is none.
std::string millsim_binary();

/// A millsim running in the background (a live_process). The destructor
/// kills and reaps a simulator that is still running.
class sim_process {
 public:
  sim_process() = default;
  ~sim_process();
  sim_process(const sim_process&) = delete;
  sim_process& operator=(const sim_process&) = delete;

  /// Starts millsim with "--transcript" (a file in a folder of its own),
  /// then "--link link_path" when `link_path` is not empty, then `args`
  /// (later options win, so `args` may override the transcript path). Waits
  /// at most `timeout_ms` for the device line; true once `device` is known
  /// (and, with a link, the link exists). On false, `failure()` says why and
  /// nothing is left running.
  bool start(const std::vector<std::string>& args, const std::string& link_path = "",
             int timeout_ms = 10000);

  /// Sends `signal_number` and waits at most `timeout_ms` for
  /// the exit, killing it after that. True when it exited with code 0.
  bool stop(int timeout_ms = 10000, int signal_number = SIGTERM);

  /// The device path the simulator printed (e.g. /dev/pts/5).
  std::string device;

  bool running() const { return child_.running(); }
  int pid() const { return child_.pid(); }
  /// The exit code after stop(); -1 while running, or when it was killed.
  int exit_code() const { return exit_code_; }
  /// Why start() or stop() failed.
  const std::string& failure() const { return failure_; }
  /// The transcript file: complete once stop() has returned.
  std::string transcript_path() const { return files_.file("transcript.txt"); }
  std::string transcript() const;
  /// What the simulator wrote to standard error so far.
  std::string errors() const;
  /// What it wrote to standard output after the device line, collected by
  /// stop() (it should be nothing).
  const std::string& extra_output() const { return extra_output_; }
  /// Where the link points now; empty when there is no link.
  std::string link_target() const;

 private:
  temp_dir files_;
  std::string link_path_;
  live_process child_;
  int exit_code_ = -1;
  std::string failure_;
  std::string extra_output_;
};

/// A transcript read back: the commands in order and the final positions.
struct sim_transcript {
  std::vector<std::string> commands;
  bool has_final = false;
  int64_t x = 0, y = 0, z = 0;
};

/// Reads "cmd: TEXT" lines and the "final: x=N y=N z=N" line. False when a
/// line has neither form or the final line is missing or not last.
bool parse_sim_transcript(const std::string& text, sim_transcript& out);

/// The client end of a simulator's terminal, opened and set raw the way
/// millrun opens its port.
class sim_client {
 public:
  sim_client() = default;
  ~sim_client();
  sim_client(const sim_client&) = delete;
  sim_client& operator=(const sim_client&) = delete;

  /// Opens `path` (a device or a link to one) O_RDWR|O_NOCTTY, raw.
  bool open(const std::string& path);
  void close();
  bool is_open() const { return fd_ >= 0; }

  /// Writes all of `bytes`. False on a failure or a hang-up.
  bool send(const std::string& bytes);
  /// Collects bytes, one read of one byte at a time, until what was
  /// collected ends with `ending`, the other side hangs up, or `timeout_ms`
  /// pass. Never reads past `ending`.
  std::string read_until(const std::string& ending, int timeout_ms = 5000);
  /// Collects bytes until `quiet_ms` pass without one (or a hang-up).
  std::string read_quiet(int quiet_ms);
  /// Sends `command` and a line feed and reads the reply up to `line_end`.
  std::string exchange(const std::string& command, const std::string& line_end = "\r\n",
                       int timeout_ms = 5000);
  /// Waits at most `timeout_ms` for the other side to hang up, discarding
  /// any bytes on the way. True when it did.
  bool wait_hangup(int timeout_ms = 5000);
  /// True once a read, write or wait saw the other side hang up.
  bool hung_up() const { return hung_up_; }

 private:
  // Reads at most one byte within `timeout_ms`: 1 a byte, 0 none, -1 gone.
  int read_byte(char& byte, int timeout_ms);

  int fd_ = -1;
  bool hung_up_ = false;
};
