// The status line on a POSIX terminal: ANSI carriage return and
// erase-to-end-of-line, written with one write call each so that a redraw
// never shows half a line.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/terminal.h"

namespace {

// Linux has a clock that is read without asking the timer hardware; other
// systems fall back to the ordinary monotonic clock.
#ifdef CLOCK_MONOTONIC_COARSE
constexpr clockid_t coarse_clock = CLOCK_MONOTONIC_COARSE;
#else
constexpr clockid_t coarse_clock = CLOCK_MONOTONIC;
#endif

constexpr char erase_to_end[] = "\x1b[K";

/// Writes all of `data` to standard error; a status line is best effort, so
/// a failure other than an interruption gives up quietly.
void write_all(const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(STDERR_FILENO, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
}

bool same_terminal(int a, int b) {
  struct stat sa {
  }, sb{};
  if (fstat(a, &sa) != 0 || fstat(b, &sb) != 0) return false;
  return S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode) && sa.st_rdev == sb.st_rdev;
}

}  // namespace

bool platform_status_line_possible() {
  if (!isatty(STDERR_FILENO)) return false;
  // A terminal that cannot erase a line (an editor's shell buffer) would
  // pile the redraws up.
  const char* term = std::getenv("TERM");
  if (term && std::strcmp(term, "dumb") == 0) return false;
  return !(isatty(STDOUT_FILENO) && same_terminal(STDOUT_FILENO, STDERR_FILENO));
}

int platform_terminal_columns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void platform_draw_status_line(const char* text, size_t length) {
  char line[1024];
  const size_t room = sizeof line - 1 - (sizeof erase_to_end - 1);
  if (length > room) length = room;
  line[0] = '\r';
  std::memcpy(line + 1, text, length);
  std::memcpy(line + 1 + length, erase_to_end, sizeof erase_to_end - 1);
  write_all(line, 1 + length + sizeof erase_to_end - 1);
}

void platform_erase_status_line() {
  static const char erase[] = "\r\x1b[K";
  write_all(erase, sizeof erase - 1);
}

void platform_write_error_line(const char* text) { write_all(text, std::strlen(text)); }

void platform_fill_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int null_device = ::open("/dev/null", O_RDWR);
    // The lowest free number is `fd` itself; anything else is not ours.
    if (null_device >= 0 && null_device != fd) ::close(null_device);
  }
}

void platform_discard_standard_output() {
  std::fflush(stdout);
  int null_device = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_device < 0) return;
  dup2(null_device, STDOUT_FILENO);
  ::close(null_device);
}

uint64_t platform_coarse_now_ms() {
  timespec now{};
  clock_gettime(coarse_clock, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}
