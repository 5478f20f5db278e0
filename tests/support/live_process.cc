#include "support/live_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

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

namespace {

/// A child's stream prepared before the fork: the descriptor it gets (or -1
/// for none) and, for a captured stream, the test's reading end.
struct prepared_stream {
  int child_fd = -1;
  int test_fd = -1;
  bool ok = true;
};

prepared_stream prepare_stream(child_output kind, const std::string& file) {
  prepared_stream s;
  int ends[2] = {-1, -1};
  switch (kind) {
    case child_output::captured:
    case child_output::broken_pipe:
      if (::pipe2(ends, O_CLOEXEC) != 0) {
        s.ok = false;
        break;
      }
      s.child_fd = ends[1];
      if (kind == child_output::captured) {
        s.test_fd = ends[0];
      } else {
        ::close(ends[0]);  // nobody will ever read
      }
      break;
    case child_output::closed:
      break;
    case child_output::full_device:
      s.child_fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
      s.ok = s.child_fd >= 0;
      break;
    case child_output::file:
      s.child_fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      s.ok = s.child_fd >= 0;
      break;
  }
  return s;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

/// The environment of this process with `extra` ("NAME=value") in place of
/// the entries of the same names.
std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
  std::vector<std::string> all;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.compare(0, name.size(), name) == 0;
    if (!replaced) all.push_back(entry);
  }
  all.insert(all.end(), extra.begin(), extra.end());
  return all;
}

}  // namespace

bool live_process::start(const std::vector<std::string>& argv_in, const std::string& cwd,
                         const std::vector<std::string>& env, const child_streams& streams) {
  if (pid_ > 0 || argv_in.empty()) return false;
  close_fd(out_fd_);  // an earlier child's
  close_fd(err_fd_);
  out.clear();
  err.clear();
  // Everything the child needs is prepared before the fork: after it, the
  // child only moves descriptors and calls exec.
  std::vector<std::string> argv = with_test_wrapper(argv_in);
  std::vector<std::string> environment = environment_with(env);
  std::vector<char*> args, envp;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  prepared_stream out_stream = prepare_stream(streams.out, streams.out_file);
  prepared_stream err_stream = prepare_stream(streams.err, streams.err_file);
  int null_in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t pid = -1;
  if (out_stream.ok && err_stream.ok && null_in >= 0) pid = ::fork();
  if (pid == 0) {
    // The copies on 0, 1 and 2 stay open across exec (dup2 clears the
    // close-on-exec flag, which a descriptor already in place keeps); a
    // stream without a descriptor is closed.
    auto place = [](int fd, int target) {
      if (fd < 0)
        ::close(target);
      else if (fd == target)
        ::fcntl(target, F_SETFD, 0);
      else
        ::dup2(fd, target);
    };
    place(null_in, 0);
    place(out_stream.child_fd, 1);
    place(err_stream.child_fd, 2);
    if (::chdir(cwd.c_str()) != 0) _exit(126);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvpe(args[0], args.data(), envp.data());  // a wrapper may be named without its path
    _exit(127);
  }
  close_fd(null_in);
  close_fd(out_stream.child_fd);
  close_fd(err_stream.child_fd);
  if (pid < 0) {
    close_fd(out_stream.test_fd);
    close_fd(err_stream.test_fd);
    return false;
  }
  pid_ = pid;
  exit_code = -1;
  killed_by_signal = 0;
  out_fd_ = out_stream.test_fd;
  err_fd_ = err_stream.test_fd;
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

bool live_process::signal(int signal_number) {
  return pid_ > 0 && ::kill(pid_, signal_number) == 0;
}

namespace {

/// The scheduler state and the count of context switches of `pid`, from
/// /proc. False when the process is gone.
bool scheduling_of(pid_t pid, char& state, long long& switches) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  if (!in) return false;
  std::string line;
  switches = 0;
  while (std::getline(in, line)) {
    if (line.rfind("State:", 0) == 0 && line.size() > 7) state = line[7];
    if (line.find("ctxt_switches:") != std::string::npos)
      switches += std::stoll(line.substr(line.find(':') + 1));
  }
  return true;
}

}  // namespace

bool live_process::wait_until_held(int quiet_ms, int timeout_ms) {
  const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  while (pid_ > 0 && ms_left(deadline) > 0) {
    char state_before = 0, state_after = 0;
    long long switches_before = -1, switches_after = -2;
    if (!scheduling_of(pid_, state_before, switches_before)) return false;
    // Output is collected meanwhile, so a full pipe is never taken for a
    // held child.
    const auto quiet_end = steady::now() + std::chrono::milliseconds(quiet_ms);
    while (ms_left(quiet_end) > 0) collect(ms_left(quiet_end));
    if (!scheduling_of(pid_, state_after, switches_after)) return false;
    if (state_before == 'S' && state_after == 'S' && switches_before == switches_after) return true;
  }
  return false;
}

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
  // What the child wrote before its end is still in the pipes. A process it
  // left behind may hold them open: the drain has its limit too.
  const auto drain_end = std::max(deadline, steady::now() + std::chrono::milliseconds(1000));
  while ((out_fd_ >= 0 || err_fd_ >= 0) && ms_left(drain_end) > 0) collect(ms_left(drain_end));
  close_fd(out_fd_);
  close_fd(err_fd_);
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
  if (number == SYS_ppoll)
    return args[2] != 0 ? process_activity::timed_wait : process_activity::waiting;
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
