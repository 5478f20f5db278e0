// Pseudo-terminals, links, waits and stop signals of the simulator on POSIX.
#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace {

// The self-pipe: the signal handler writes one byte to it, so a poll that
// also watches its read end wakes up.
int stop_pipe[2] = {-1, -1};
volatile sig_atomic_t stop_flag = 0;

void on_stop_signal(int) {
  int saved = errno;
  stop_flag = 1;
  if (stop_pipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(stop_pipe[1], &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

std::string os_error(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool set_flags(int fd, int added) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | added) == 0;
}

// Polls `fds` until something is ready; a stop signal shows on the pipe.
// Returns the poll count, or -1 on a real failure.
int poll_until_ready(pollfd* fds, nfds_t count, int timeout_ms) {
  for (;;) {
    int n = poll(fds, count, timeout_ms);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
    if (stop_flag) return 0;
  }
}

}  // namespace

bool pty_open(pseudo_terminal& term, std::string& error) {
  term = pseudo_terminal{};
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    error = os_error("cannot open a pseudo-terminal");
    return false;
  }
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0 ||
      !set_flags(master, O_NONBLOCK)) {
    error = os_error("cannot prepare the pseudo-terminal");
    close(master);
    return false;
  }
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    error = os_error((std::string("cannot open ") + name).c_str());
    close(master);
    return false;
  }
  termios settings{};
  if (tcgetattr(slave, &settings) != 0) {
    error = os_error("cannot read the terminal settings");
    close(slave);
    close(master);
    return false;
  }
  cfmakeraw(&settings);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (tcsetattr(slave, TCSANOW, &settings) != 0) {
    error = os_error("cannot set the terminal to raw mode");
    close(slave);
    close(master);
    return false;
  }
  term.master_fd = master;
  term.slave_fd = slave;
  term.device_path = name;
  return true;
}

void pty_close(pseudo_terminal& term) {
  if (term.master_fd >= 0) close(term.master_fd);
  if (term.slave_fd >= 0) close(term.slave_fd);
  term = pseudo_terminal{};
}

wait_outcome pty_wait_input(const pseudo_terminal* term) {
  for (;;) {
    if (stop_flag) return wait_outcome::stop;
    pollfd fds[2] = {{stop_pipe[0], POLLIN, 0}, {term ? term->master_fd : -1, POLLIN, 0}};
    int n = poll_until_ready(fds, 2, -1);
    if (n < 0) return wait_outcome::failed;
    if (stop_flag) return wait_outcome::stop;
    if (fds[1].revents & POLLIN) return wait_outcome::input;
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return wait_outcome::failed;
  }
}

long pty_read(pseudo_terminal& term, char* buffer, size_t capacity) {
  for (;;) {
    ssize_t got = read(term.master_fd, buffer, capacity);
    if (got > 0) return static_cast<long>(got);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return -1;  // EIO (the other side is gone) or end of input
  }
}

write_outcome pty_write_all(pseudo_terminal& term, const char* data, size_t length) {
  while (length > 0) {
    if (stop_flag) return write_outcome::stop;
    ssize_t put = write(term.master_fd, data, length);
    if (put > 0) {
      data += put;
      length -= static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The client's input queue is full: wait for room or a stop.
      pollfd fds[2] = {{stop_pipe[0], POLLIN, 0}, {term.master_fd, POLLOUT, 0}};
      if (poll_until_ready(fds, 2, -1) < 0) return write_outcome::failed;
      if (fds[1].revents & (POLLERR | POLLNVAL)) return write_outcome::failed;
      continue;
    }
    return write_outcome::failed;
  }
  return write_outcome::done;
}

bool pty_pause_ms(uint64_t milliseconds) {
  // NOTE: the wait is counted down in unsigned milliseconds, never turned
  // into a clock deadline: the longest move (2^32-1 ms per step times 2^32-1
  // steps) is far beyond what the clock's signed nanoseconds can hold.
  using clock = std::chrono::steady_clock;
  uint64_t left = milliseconds;
  while (left > 0) {
    if (stop_flag) return false;
    int slice = left >= static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
    const auto began = clock::now();
    pollfd fd = {stop_pipe[0], POLLIN, 0};
    if (poll_until_ready(&fd, 1, slice) < 0) return !stop_flag;
    auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - began).count();
    uint64_t done = spent > 0 ? static_cast<uint64_t>(spent) : 0;
    left = done >= left ? 0 : left - done;
  }
  return !stop_flag;
}

bool install_stop_signals(std::string& error) {
  if (stop_pipe[0] < 0) {
    if (pipe(stop_pipe) != 0) {
      error = os_error("cannot create the stop pipe");
      return false;
    }
    for (int fd : stop_pipe) {
      if (!set_flags(fd, O_NONBLOCK) || fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        error = os_error("cannot prepare the stop pipe");
        return false;
      }
    }
  }
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A parent may have left these ignored or blocked (a background job of a
  // shell ignores SIGINT); the simulator must still stop on them.
  sigset_t wanted;
  sigemptyset(&wanted);
  for (int sig : {SIGTERM, SIGINT}) {
    if (sigaction(sig, &action, nullptr) != 0) {
      error = os_error("cannot install the stop signal handler");
      return false;
    }
    sigaddset(&wanted, sig);
  }
  sigprocmask(SIG_UNBLOCK, &wanted, nullptr);
  return true;
}

bool stop_requested() { return stop_flag != 0; }

bool point_link(const std::string& link_path, const std::string& target, std::string& error) {
  struct stat existing {};
  if (lstat(link_path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
    error = link_path + " exists and is not a symbolic link; it is left alone";
    return false;
  }
  std::string temporary = link_path + ".millsim-" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) {
    error = os_error(("cannot create the link " + temporary).c_str());
    return false;
  }
  if (rename(temporary.c_str(), link_path.c_str()) != 0) {
    error = os_error(("cannot move the link into place at " + link_path).c_str());
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void remove_link(const std::string& link_path, const std::string& target) {
  char buffer[PATH_MAX];
  ssize_t length = readlink(link_path.c_str(), buffer, sizeof buffer);
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return;
  if (std::string(buffer, static_cast<size_t>(length)) == target) unlink(link_path.c_str());
}
