// Serial ports, parallel ports and files on POSIX. A port name becomes a
// device node through the environment (MILLRUN_COM<n>, MILLRUN_LPT<n>) or
// the usual node (/dev/ttyS<n-1>, /dev/lp<n-1>). Every device is opened for
// exclusive use, non-blocking, and waited on with poll.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/device.h"
#include "platform/platform.h"
#include "platform/wait_posix.h"

namespace {

class posix_device final : public device {
 public:
  explicit posix_device(int fd) : fd_(fd) {}
  ~posix_device() override {
    // The exclusive flag outlives this descriptor while anyone else holds the
    // terminal open; drop it so that the port can be opened again.
    if (::isatty(fd_)) ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }

  read_status read_pending_byte(unsigned char& byte) override {
    for (;;) {
      ssize_t n = ::read(fd_, &byte, 1);
      if (n == 1) return read_status::byte;
      if (n == 0) return read_status::gone;  // end of a file
      if (errno == EINTR && !platform_stop_requested()) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return read_status::nothing;
      return read_status::gone;
    }
  }

  read_status wait_byte(unsigned char& byte) override { return wait(byte, -1); }
  read_status wait_byte_for(unsigned char& byte, uint32_t timeout_ms) override {
    return wait(byte, timeout_ms);
  }

  read_status wait(unsigned char& byte, int64_t timeout_ms) {
    for (;;) {
      if (platform_stop_requested()) return read_status::gone;
      // Read first: the bytes of a reply mostly arrive together, and only an
      // empty read needs the wait.
      ssize_t n = ::read(fd_, &byte, 1);
      if (n == 1) return read_status::byte;
      if (n == 0) return read_status::gone;  // end of a file, or hung up
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return read_status::gone;  // EIO: gone
      // The wait has the caller's limit or none; a stop request ends it (as
      // "gone").
      short revents = 0;
      const posix_wait_result waited = posix_wait(fd_, POLLIN, timeout_ms, revents);
      if (waited == posix_wait_result::timed_out) return read_status::nothing;
      if (waited != posix_wait_result::ready) return read_status::gone;
      if (revents & POLLNVAL) return read_status::gone;
      // With POLLHUP set the next read still delivers the bytes sent before
      // the hang-up, then reports the end.
    }
  }

  bool write(const char* data, size_t length, size_t& written) override {
    // A synchronous write: the call returns when every byte is handed over,
    // or when the device fails.
    written = 0;
    while (written < length) {
      ssize_t n = ::write(fd_, data + written, length - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR && !platform_stop_requested()) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        short revents = 0;
        if (posix_wait(fd_, POLLOUT, -1, revents) != posix_wait_result::ready) return false;
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        continue;
      }
      return false;
    }
    return true;
  }

  bool apply_line_settings(const line_settings& settings) override {
    speed_t speed = 0;
    if (!speed_of(settings.baud, speed)) return false;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    // Raw: bytes pass unaltered both ways, no echo, no signals, no flow control.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= static_cast<tcflag_t>(CS8 | CLOCAL | CREAD);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return false;
    // DTR and RTS as the controller wants them. A device without modem lines
    // (a pseudo-terminal) refuses this, which is not a refusal of the port.
    int lines = TIOCM_DTR | TIOCM_RTS;
    int on = (settings.dtr_on ? TIOCM_DTR : 0) | (settings.rts_on ? TIOCM_RTS : 0);
    int off = lines & ~on;
    if (on) ::ioctl(fd_, TIOCMBIS, &on);
    if (off) ::ioctl(fd_, TIOCMBIC, &off);
    return true;
  }

 private:
  static bool speed_of(int32_t baud, speed_t& speed) {
    static const struct {
      int32_t baud;
      speed_t speed;
    } speeds[] = {
        {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
    };
    for (const auto& s : speeds)
      if (s.baud == baud) {
        speed = s.speed;
        return true;
      }
    return false;
  }

  int fd_;
};

/// The number in a port name after "COM" or "LPT", read as the kind rule
/// reads it: blanks, a sign, the digits; beyond 32 bits it is clamped.
int32_t port_number(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  int64_t magnitude = 0;
  const int64_t limit = 2147483648LL;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (magnitude < limit) magnitude = magnitude * 10 + (*p - '0');
  if (magnitude > limit) magnitude = limit;
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(magnitude == limit ? limit - 1 : magnitude);
}

// Why the last opening failed: an errno value, or lock_refused.
constexpr int lock_refused = -1;
int last_open_error = 0;

/// The variable that names the node of a device path "\\.\COM3": MILLRUN_COM3.
std::string device_variable(const char* name, port_kind kind) {
  char variable[32];
  std::snprintf(variable, sizeof variable, "MILLRUN_%s%ld",
                kind == port_kind::serial ? "COM" : "LPT",
                static_cast<long>(port_number(name + 3)));
  return variable;
}

/// The node for a device path "\\.\COM3": MILLRUN_COM3 or /dev/ttyS2. A
/// path without the prefix (a terminal named under /dev) is its own node.
std::string device_node(const char* path, port_kind kind) {
  const char* name = path;
  if (std::strncmp(name, "\\\\.\\", 4) != 0) return path;
  name += 4;
  // The number as the kind rule reads it: COM3, com03 and "COM 3" are all 3.
  int32_t number = port_number(name + 3);
  const bool serial = kind == port_kind::serial;
  if (const char* node = std::getenv(device_variable(name, kind).c_str()); node && *node)
    return node;
  char node[48];
  std::snprintf(node, sizeof node, serial ? "/dev/ttyS%ld" : "/dev/lp%ld",
                static_cast<long>(number) - 1);
  return node;
}

}  // namespace

port_handle platform_open_device(const char* path, port_kind kind, open_disposition disposition) {
  std::string node = kind == port_kind::file ? std::string(path) : device_node(path, kind);
  int flags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  if (disposition == open_disposition::always) flags |= O_CREAT;
  int fd = ::open(node.c_str(), flags, 0666);
  last_open_error = errno;
  if (fd < 0) return nullptr;
  // No sharing: a second opening of a device or file still open fails. The
  // lock holds for root as well, which TIOCEXCL alone would not.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    last_open_error = lock_refused;
    ::close(fd);
    return nullptr;
  }
  if (::isatty(fd)) ::ioctl(fd, TIOCEXCL);
  return new posix_device(fd);
}

void platform_close_device(port_handle handle) { delete handle; }

node_state platform_node_state(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0)
    return errno == ENOENT || errno == ENOTDIR ? node_state::missing : node_state::other;
  if (!S_ISCHR(info.st_mode)) return node_state::other;
  // The kernel's device list says what a character device is without
  // opening it: an opening and closing of a serial port would drop DTR,
  // which resets some controllers. Pseudo-terminals are not listed there.
  char link[128], target[256];
  std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(info.st_rdev),
                minor(info.st_rdev));
  ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n > 0) {
    target[n] = '\0';
    const char* last = std::strrchr(target, '/');
    return std::strcmp(last ? last + 1 : target, "tty") == 0 ? node_state::terminal
                                                             : node_state::other;
  }
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // NOTE: a character device that cannot be opened now (in use, no
  // permission) counts as a terminal: its opening as a port says why.
  if (fd < 0) return node_state::terminal;
  const bool terminal = ::isatty(fd);
  ::close(fd);
  return terminal ? node_state::terminal : node_state::other;
}

void platform_describe_failed_opening(const char* path, port_kind kind, char* text, size_t size) {
  const char* reason = last_open_error == lock_refused ? "in use by another program"
                                                       : std::strerror(last_open_error);
  const std::string node = device_node(path, kind);
  if (std::strncmp(path, "\\\\.\\", 4) != 0) {
    std::snprintf(text, size, "Tried the device %s: %s.", node.c_str(), reason);
    return;
  }
  const char* name = path + 4;
  const std::string variable = device_variable(name, kind);
  const char* set = std::getenv(variable.c_str());
  const char* from = set && *set ? " (from " : "";
  std::snprintf(text, size,
                "Tried %s as the device %s%s%s%s: %s. Set %s to the device of the "
                "controller's port (for example %s=%s), or name the device after \"open comm\".",
                name, node.c_str(), from, *from ? variable.c_str() : "", *from ? ")" : "", reason,
                variable.c_str(), variable.c_str(),
                kind == port_kind::serial ? "/dev/ttyUSB0" : "/dev/lp0");
}
