#include "support/live_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using steady = std::chrono::steady_clock;

int ms_left(steady::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::vector<std::string> with_test_wrapper(const std::vector<std::string>& argv) {
  const char* wrapper = std::getenv("MILLRUN_TEST_WRAPPER");
  if (!wrapper || !*wrapper || argv.empty() || argv[0] != MILLRUN_BINARY) return argv;
  std::vector<std::string> wrapped;
  std::istringstream words(wrapper);
  for (std::string word; words >> word;) wrapped.push_back(word);
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

int test_time_scale() {
  const char* text = std::getenv("MILLRUN_TEST_TIME_SCALE");
  int scale = text ? std::atoi(text) : 1;
  return scale < 1 ? 1 : scale;
}

live_process::~live_process() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (out_fd_ >= 0) ::close(out_fd_);
  if (err_fd_ >= 0) ::close(err_fd_);
}

bool live_process::start(const std::vector<std::string>& argv_in, const std::string& cwd,
                         const std::vector<std::string>& env, child_output output,
                         bool close_stderr) {
  const std::vector<std::string> argv = with_test_wrapper(argv_in);
  int out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  if (output == child_output::captured || output == child_output::broken_pipe) {
    if (::pipe(out_pipe) != 0) return false;
  }
  if (!close_stderr && ::pipe(err_pipe) != 0) return false;
  if (output == child_output::broken_pipe) {
    ::close(out_pipe[0]);  // nobody will ever read
    out_pipe[0] = -1;
  }
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in >= 0 && null_in != 0) {
      ::dup2(null_in, 0);
      ::close(null_in);
    }
    switch (output) {
      case child_output::captured:
      case child_output::broken_pipe:
        ::dup2(out_pipe[1], 1);
        break;
      case child_output::closed:
        ::close(1);
        break;
      case child_output::full_device: {
        int full = ::open("/dev/full", O_WRONLY);
        if (full >= 0 && full != 1) {
          ::dup2(full, 1);
          ::close(full);
        }
        break;
      }
    }
    if (close_stderr) {
      ::close(2);
    } else {
      ::dup2(err_pipe[1], 2);
    }
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      if (fd > 2) ::close(fd);
    if (::chdir(cwd.c_str()) != 0) _exit(126);
    for (const std::string& entry : env) ::putenv(const_cast<char*>(entry.c_str()));
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());  // a wrapper may be named without its path
    _exit(127);
  }
  pid_ = pid;
  if (out_pipe[1] >= 0) ::close(out_pipe[1]);
  if (err_pipe[1] >= 0) ::close(err_pipe[1]);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  return true;
}

void live_process::collect(int timeout_ms) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) {
    if (timeout_ms > 0) ::poll(nullptr, 0, timeout_ms);
    return;
  }
  if (::poll(fds, 2, timeout_ms) <= 0) return;
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) {
      (i == 0 ? out : err).append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      ::close(fds[i].fd);
      (i == 0 ? out_fd_ : err_fd_) = -1;
    }
  }
}

void live_process::close_output() {
  if (out_fd_ >= 0) ::close(out_fd_);
  out_fd_ = -1;
}

bool live_process::signal(int signal_number) { return pid_ > 0 && ::kill(pid_, signal_number) == 0; }

bool live_process::wait_until(const std::function<bool()>& condition, int timeout_ms) {
  const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (condition()) return true;
    if (pid_ <= 0 || ms_left(deadline) == 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      killed_by_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      return condition();
    }
    collect(5);
  }
}

bool live_process::wait_exit(int timeout_ms) {
  const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  bool ended = true;
  while (pid_ > 0) {
    int status = 0;
    pid_t got = ::waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
      pid_ = -1;
      exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      killed_by_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      break;
    }
    if (ms_left(deadline) == 0) {
      ended = false;
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      break;
    }
    collect(5);
  }
  // What the child wrote before its end is still in the pipes.
  while (out_fd_ >= 0 || err_fd_ >= 0) collect(1000);
  return ended;
}

process_activity activity_of(pid_t pid) {
  std::ifstream stat_file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(stat_file, stat)) return process_activity::gone;
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return process_activity::gone;
  const char state = stat[close + 2];
  if (state == 'Z' || state == 'X') return process_activity::gone;
  if (state != 'S' && state != 'D') return process_activity::running;

  std::ifstream syscall_file("/proc/" + std::to_string(pid) + "/syscall");
  std::string words[4];
  if (!(syscall_file >> words[0])) return process_activity::blocked_unknown;
  if (words[0] == "running") return process_activity::running;
  syscall_file >> words[1] >> words[2] >> words[3];
  char* end = nullptr;
  const long number = std::strtol(words[0].c_str(), &end, 10);
  if (*end != '\0') return process_activity::blocked_unknown;
  unsigned long long args[3] = {};
  for (int i = 0; i < 3; ++i) args[i] = std::strtoull(words[i + 1].c_str(), nullptr, 16);
#ifdef SYS_ppoll
  if (number == SYS_ppoll) return args[2] != 0 ? process_activity::timed_wait : process_activity::waiting;
#endif
#ifdef SYS_poll
  if (number == SYS_poll)
    return static_cast<int>(args[2]) < 0 ? process_activity::waiting : process_activity::timed_wait;
#endif
#ifdef SYS_nanosleep
  if (number == SYS_nanosleep) return process_activity::timed_wait;
#endif
#ifdef SYS_clock_nanosleep
  if (number == SYS_clock_nanosleep) return process_activity::timed_wait;
#endif
  return process_activity::waiting;
}
