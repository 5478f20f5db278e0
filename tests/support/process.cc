#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/live_process.h"

temp_dir::temp_dir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/millrun-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void temp_dir::write(const std::string& name, const std::string& contents) const {
  std::ofstream out(file(name), std::ios::binary);
  out << contents;
}

std::string temp_dir::read(const std::string& name) const { return read_file(file(name)); }

bool temp_dir::exists(const std::string& name) const {
  return std::filesystem::exists(file(name));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

process_result run_process(const std::vector<std::string>& argv_in, const std::string& cwd,
                           const std::vector<std::string>& env, int timeout_ms) {
  // millrun may run under a wrapper (valgrind), which takes its time.
  const std::vector<std::string> argv = with_test_wrapper(argv_in);
  timeout_ms *= test_time_scale();
  process_result result;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]); close(out_pipe[1]); close(err_pipe[0]); close(err_pipe[1]);
    int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, 0);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());  // a wrapper may be named without its path
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_count = 2;
  char buffer[65536];
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    int n = poll(fds, 2, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

std::string without_estimate(const std::string& err) {
  const std::string prefix = "Estimated machine time: ";
  const std::string suffix = " (h:mm:ss)\n";
  size_t start = err.rfind(prefix);
  if (start == std::string::npos || (start != 0 && err[start - 1] != '\n')) return err;
  std::string tail = err.substr(start + prefix.size());
  if (tail.size() < suffix.size() || tail.compare(tail.size() - suffix.size(), suffix.size(), suffix) != 0)
    return err;
  std::string clock = tail.substr(0, tail.size() - suffix.size());
  // h:mm:ss, hours of any length
  size_t colon = clock.find(':');
  if (colon == std::string::npos || colon == 0 || clock.size() != colon + 6 || clock[colon + 3] != ':')
    return err;
  for (size_t i = 0; i < clock.size(); ++i)
    if (i != colon && i != colon + 3 && (clock[i] < '0' || clock[i] > '9')) return err;
  return err.substr(0, start);
}
