// Helpers for tests that run the real programs: a fresh temporary folder,
// files in it, and a child process with its output captured and a bounded
// wait, so a program that hangs fails its test instead of hanging it.
#pragma once

#include <string>
#include <vector>

class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& contents) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

struct process_result {
  int exit_code = -1;  // -1 when killed or not started
  bool timed_out = false;
  std::string out;
  std::string err;
};

/// Runs `argv` (argv[0] a path) in `cwd`, with extra environment entries
/// "NAME=value", waiting at most `timeout_ms` before killing it.
process_result run_process(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::vector<std::string>& env = {}, int timeout_ms = 20000);

/// Standard error without the "Estimated machine time: H:MM:SS (h:mm:ss)"
/// line a dry run ends with (when it has exactly that form), for tests that
/// check there was no message.
std::string without_estimate(const std::string& err);

/// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);
