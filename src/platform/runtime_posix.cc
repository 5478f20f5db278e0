// The sleep, the stop request and the clock on POSIX. SIGINT (Ctrl-C),
// SIGTERM and SIGHUP set the stop request and wake every wait through a
// pipe (see platform/wait_posix.h), so a dwell, the reset pulse or the wait
// for a reply ends at once.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/platform.h"
#include "platform/wait_posix.h"

namespace {

// Set by a signal handler or by another thread (millstation's stop): lock-free
// atomics serve both, where a volatile flag would be a data race.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> stop_flag{0};
// The stop pipe: readable from the first stop request until the request is
// cleared. -1 until it is made.
std::atomic<int> stop_read_fd{-1};
std::atomic<int> stop_write_fd{-1};
std::mutex stop_pipe_making;  // two threads must not make two pipes

bool make_stop_pipe() {
  if (stop_read_fd >= 0) return true;
  std::lock_guard<std::mutex> hold(stop_pipe_making);
  if (stop_read_fd >= 0) return true;
  int fds[2];
  if (::pipe(fds) != 0) return false;
  for (int fd : fds) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  stop_write_fd = fds[1];
  stop_read_fd = fds[0];
  return true;
}

void wake_waits() {
  // One byte is enough: nobody reads it until the request is cleared. A full
  // pipe (many signals) is fine too.
  const int saved = errno;
  if (const int fd = stop_write_fd; fd >= 0) {
    const char byte = 's';
    ssize_t ignored = ::write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

extern "C" void on_stop_signal(int) {
  stop_flag = 1;
  wake_waits();
}

/// Installs the stop handler for `signal_number`. A signal that the parent
/// left ignored stays ignored when `keep_ignored`: under nohup a hang-up must
/// not stop the run, nor Ctrl-C a job a shell started in the background.
void watch(int signal_number, bool keep_ignored) {
  struct sigaction old {};
  if (keep_ignored && ::sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
    return;
  // No SA_RESTART: a blocking call (opening a FIFO, reading a terminal) is
  // cut short as well.
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal_number, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

int64_t now_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

void platform_watch_stop_signals() {
  make_stop_pipe();
  watch(SIGINT, true);
  watch(SIGTERM, false);
  watch(SIGHUP, true);
  // The trace on standard output is best effort: a reader that went away
  // makes a write fail (EPIPE), which nobody checks, instead of ending the
  // run.
  std::signal(SIGPIPE, SIG_IGN);
}

void platform_request_stop() {
  make_stop_pipe();
  stop_flag = 1;
  wake_waits();
}

void platform_clear_stop() {
  stop_flag = 0;
  const int fd = stop_read_fd;
  if (fd < 0) return;
  char buffer[64];
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
}

bool platform_stop_requested() { return stop_flag != 0; }

posix_wait_result posix_wait(int fd, short events, int64_t timeout_ms, short& revents) {
  revents = 0;
  // Counted against the clock: a wait may wake early (a stray signal), and
  // the caller was promised the whole time.
  const int64_t deadline = timeout_ms < 0 ? -1 : now_ns() + timeout_ms * 1000000;
  for (;;) {
    if (stop_flag) return posix_wait_result::stopped;
    timespec step{};
    timespec* limit = nullptr;
    if (deadline >= 0) {
      const int64_t left = deadline - now_ns();
      if (left <= 0) return posix_wait_result::timed_out;
      step.tv_sec = static_cast<time_t>(left / 1000000000);
      step.tv_nsec = static_cast<long>(left % 1000000000);
      limit = &step;
    }
    pollfd p[2] = {{fd, events, 0}, {stop_read_fd, POLLIN, 0}};
    if (::ppoll(p, 2, limit, nullptr) < 0) {
      if (errno == EINTR) continue;  // the flag, tested above, tells a stop
      return posix_wait_result::failed;
    }
    if (stop_flag) return posix_wait_result::stopped;
    if (fd >= 0 && p[0].revents != 0) {
      revents = p[0].revents;
      return posix_wait_result::ready;
    }
    // Nothing for `fd`: the time is up (tested at the top) or a stray wake.
  }
}

bool platform_sleep_ms(uint32_t milliseconds) {
  short revents = 0;
  return posix_wait(-1, 0, milliseconds, revents) != posix_wait_result::stopped;
}

uint64_t platform_now_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

std::FILE* platform_open_regular_file(const char* path) {
  // Opened without waiting (a FIFO's opening waits for a writer), and
  // looked at through the descriptor, so that what is tested is what is read.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (!file) ::close(fd);
  return file;
}

bool platform_random_bytes(void* out, size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  size_t done = 0;
  while (done < size) {
    // A request of up to 256 bytes is never cut short once the pool is ready.
    const size_t step = size - done < 256 ? size - done : 256;
    const ssize_t got = ::getrandom(bytes + done, step, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}
