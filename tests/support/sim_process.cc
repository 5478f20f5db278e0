#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <sstream>

namespace {

using steady = std::chrono::steady_clock;

int ms_left(steady::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
  return left.count() <= 0 ? 0 : left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

steady::time_point after_ms(int ms) { return steady::now() + std::chrono::milliseconds(ms); }

}  // namespace

std::string millsim_binary() {
#ifdef MILLSIM_BINARY
  return MILLSIM_BINARY;
#else
  return {};
#endif
}

// ---- sim_process -----------------------------------------------------------

sim_process::~sim_process() = default;  // the live_process kills and reaps

bool sim_process::start(const std::vector<std::string>& args, const std::string& link_path,
                        int timeout_ms) {
  if (running()) {
    failure_ = "millsim is already running";
    return false;
  }
  device.clear();
  failure_.clear();
  extra_output_.clear();
  exit_code_ = -1;
  link_path_ = link_path;
  std::remove(transcript_path().c_str());  // never read back an earlier run's
  std::string binary = millsim_binary();
  if (binary.empty()) {
    failure_ = "the tests were built without millsim";
    return false;
  }

  std::vector<std::string> argv = {binary, "--transcript", transcript_path()};
  if (!link_path.empty()) {
    argv.push_back("--link");
    argv.push_back(link_path);
  }
  argv.insert(argv.end(), args.begin(), args.end());

  child_streams streams;
  streams.err = child_output::file;
  streams.err_file = files_.file("stderr.txt");
  if (!child_.start(argv, ".", {}, streams)) {
    failure_ = "cannot start millsim";
    return false;
  }
  // The device line is the simulator's sign that it is ready.
  auto has_line = [&] { return child_.out.find('\n') != std::string::npos; };
  if (!child_.wait_until(has_line, timeout_ms)) {
    failure_ = child_.running()
                   ? "millsim printed no device path within " + std::to_string(timeout_ms) + " ms"
                   : "millsim ended without printing a device path";
    child_.wait_exit(0);  // kills and reaps
    failure_ += "; its errors: " + errors();
    return false;
  }
  const size_t newline = child_.out.find('\n');
  device = child_.out.substr(0, newline);
  child_.out.erase(0, newline + 1);
  return true;
}

bool sim_process::stop(int timeout_ms, int signal_number) {
  if (!running()) {
    failure_ = "millsim is not running";
    return false;
  }
  child_.signal(signal_number);
  const bool exited = child_.wait_exit(timeout_ms);
  extra_output_ = child_.out;
  if (!exited) {
    failure_ = "millsim did not exit within " + std::to_string(timeout_ms) + " ms";
    return false;
  }
  exit_code_ = child_.exit_code;
  if (exit_code_ != 0) failure_ = "millsim exited with " + std::to_string(exit_code_);
  return exit_code_ == 0;
}

std::string sim_process::transcript() const { return read_file(transcript_path()); }

std::string sim_process::errors() const { return files_.read("stderr.txt"); }

std::string sim_process::link_target() const {
  if (link_path_.empty()) return {};
  char buffer[PATH_MAX];
  ssize_t length = readlink(link_path_.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<size_t>(length));
}

bool parse_sim_transcript(const std::string& text, sim_transcript& out) {
  out = sim_transcript{};
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (out.has_final) return false;  // the final line must be the last
    if (line.rfind("cmd: ", 0) == 0) {
      out.commands.push_back(line.substr(5));
      continue;
    }
    int used = 0;
    if (std::sscanf(line.c_str(), "final: x=%" SCNd64 " y=%" SCNd64 " z=%" SCNd64 "%n", &out.x,
                    &out.y, &out.z, &used) != 3 ||
        static_cast<size_t>(used) != line.size())
      return false;
    out.has_final = true;
  }
  return out.has_final;
}

// ---- sim_client ------------------------------------------------------------

sim_client::~sim_client() { close(); }

bool sim_client::open(const std::string& path) {
  close();
  hung_up_ = false;
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return false;
  termios settings{};
  if (tcgetattr(fd_, &settings) != 0) {
    close();
    return false;
  }
  cfmakeraw(&settings);
  if (tcsetattr(fd_, TCSANOW, &settings) != 0) {
    close();
    return false;
  }
  return true;
}

void sim_client::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool sim_client::send(const std::string& bytes) {
  size_t done = 0;
  auto deadline = after_ms(5000);
  while (fd_ >= 0 && done < bytes.size()) {
    ssize_t put = write(fd_, bytes.data() + done, bytes.size() - done);
    if (put > 0) {
      done += static_cast<size_t>(put);
    } else if (put < 0 && (errno == EAGAIN || errno == EINTR) && ms_left(deadline) > 0) {
      pollfd p = {fd_, POLLOUT, 0};
      poll(&p, 1, ms_left(deadline));
    } else {
      if (put < 0 && errno == EIO) hung_up_ = true;
      return false;
    }
  }
  return fd_ >= 0;
}

int sim_client::read_byte(char& byte, int timeout_ms) {
  if (fd_ < 0 || hung_up_) return -1;
  pollfd p = {fd_, POLLIN, 0};
  int n = poll(&p, 1, timeout_ms);
  if (n <= 0) return 0;
  ssize_t got = read(fd_, &byte, 1);
  if (got == 1) return 1;
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  // A terminal whose other side has closed reads as the end of input or EIO.
  hung_up_ = true;
  return -1;
}

std::string sim_client::read_until(const std::string& ending, int timeout_ms) {
  std::string got;
  auto deadline = after_ms(timeout_ms);
  for (;;) {
    char byte = 0;
    int r = read_byte(byte, ms_left(deadline));
    if (r < 0) break;
    if (r == 0) {
      if (ms_left(deadline) == 0) break;
      continue;
    }
    got += byte;
    if (got.size() >= ending.size() &&
        got.compare(got.size() - ending.size(), ending.size(), ending) == 0)
      break;
  }
  return got;
}

std::string sim_client::read_quiet(int quiet_ms) {
  std::string got;
  char byte = 0;
  while (read_byte(byte, quiet_ms) == 1) got += byte;
  return got;
}

std::string sim_client::exchange(const std::string& command, const std::string& line_end,
                                 int timeout_ms) {
  if (!send(command + "\n")) return {};
  return read_until(line_end, timeout_ms);
}

bool sim_client::wait_hangup(int timeout_ms) {
  auto deadline = after_ms(timeout_ms);
  char byte = 0;
  while (read_byte(byte, ms_left(deadline)) >= 0) {
    if (ms_left(deadline) == 0) return hung_up_;
  }
  return hung_up_;
}
