// The pseudo-terminal half of support/fake_terminal.h (POSIX only; the
// recording terminal is in fake_terminal.cc, for every system).
#include "support/fake_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

fake_terminal::fake_terminal(device_end end) {
  controller_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (controller_ < 0 || grantpt(controller_) != 0 || unlockpt(controller_) != 0) return;
  char name[128];
  if (ptsname_r(controller_, name, sizeof name) != 0) return;
  // Reads of the test's end never wait: take_input returns what is there.
  fcntl(controller_, F_SETFL, fcntl(controller_, F_GETFL) | O_NONBLOCK);
  if (end == device_end::held_open) {
    device_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (device_fd_ < 0) return;
    termios t{};
    if (tcgetattr(device_fd_, &t) != 0) return;
    cfmakeraw(&t);
    if (tcsetattr(device_fd_, TCSANOW, &t) != 0) return;
  }
  device_ = name;
}

fake_terminal::~fake_terminal() {
  if (!variable_.empty()) unsetenv(variable_.c_str());
  if (device_fd_ >= 0) ::close(device_fd_);
  if (controller_ >= 0) ::close(controller_);
}

void fake_terminal::publish_as_com(int number) {
  if (!variable_.empty()) unsetenv(variable_.c_str());
  variable_ = "MILLRUN_COM" + std::to_string(number);
  setenv(variable_.c_str(), device_.c_str(), 1);
}

std::string fake_terminal::take_input() {
  char buffer[4096];
  ssize_t got;
  while (controller_ >= 0 && (got = ::read(controller_, buffer, sizeof buffer)) > 0)
    received_.append(buffer, static_cast<size_t>(got));
  return received_;
}

size_t fake_terminal::offer(const std::string& bytes) {
  if (controller_ < 0) return 0;
  ssize_t n = ::write(controller_, bytes.data(), bytes.size());
  return n > 0 ? static_cast<size_t>(n) : 0;
}
