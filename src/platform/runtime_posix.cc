#include <cerrno>
#include <csignal>
#include <ctime>

#include "platform/platform.h"

namespace {
volatile std::sig_atomic_t stop_flag = 0;

extern "C" void on_stop_signal(int) { stop_flag = 1; }
}  // namespace

void platform_watch_stop_signals() {
  // No SA_RESTART: a wait for a reply or a dwell is cut short at once.
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // The trace on standard output is best effort: a reader that went away
  // must not end the run.
  std::signal(SIGPIPE, SIG_IGN);
}

void platform_request_stop() { stop_flag = 1; }
void platform_clear_stop() { stop_flag = 0; }

bool platform_stop_requested() { return stop_flag != 0; }

bool platform_sleep_ms(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0) {
    if (errno != EINTR) return true;
    if (stop_flag) return false;
  }
  return true;
}

uint64_t platform_now_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}
