// The sleep, the stop request and the clock on Windows. Ctrl-C, Ctrl-Break
// and closing the console set the stop request; an event wakes a sleep that
// is under way, so a dwell or the reset pulse ends at once.
#include <windows.h>
// After windows.h: RtlGenRandom (advapi32, linked by default).
#include <ntsecapi.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>

#include "platform/platform.h"

namespace {

std::atomic<bool> stop_flag{false};
// Manual-reset: set while a stop is requested, so every wait sees it.
HANDLE stop_event = nullptr;

HANDLE the_stop_event() {
  if (!stop_event) stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return stop_event;
}

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      platform_request_stop();
      return TRUE;
    case CTRL_CLOSE_EVENT:
      // Windows ends the process once this returns. Holding on gives the run
      // the few seconds it needs to stop and write its report; its exit
      // ends this wait.
      platform_request_stop();
      Sleep(4000);
      return TRUE;
    default:
      return FALSE;
  }
}

uint64_t counter_frequency() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
  }();
  return frequency;
}

}  // namespace

void platform_watch_stop_signals() {
  the_stop_event();
  SetConsoleCtrlHandler(on_console_event, TRUE);
  // A pipe whose reader went away makes a write fail here; nothing ends the
  // process for it, so standard output needs no further care.
}

void platform_request_stop() {
  stop_flag = true;
  if (HANDLE event = the_stop_event()) SetEvent(event);
}

void platform_clear_stop() {
  stop_flag = false;
  if (HANDLE event = the_stop_event()) ResetEvent(event);
}

bool platform_stop_requested() { return stop_flag; }

bool platform_sleep_ms(uint32_t milliseconds) {
  // Waits are counted against the clock, not trusted to the timer: a wait
  // may wake a little early, and the caller was promised the whole time.
  const uint64_t deadline = platform_now_ms() + milliseconds;
  HANDLE event = the_stop_event();
  for (;;) {
    if (stop_flag) return false;
    uint64_t now = platform_now_ms();
    if (now >= deadline) return true;
    uint64_t left = deadline - now;
    DWORD step = left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
    if (event) {
      if (WaitForSingleObject(event, step) == WAIT_OBJECT_0 && stop_flag) return false;
    } else {
      Sleep(step);
    }
  }
}

uint64_t platform_now_ms() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
  const uint64_t frequency = counter_frequency();
  // Split so that the product cannot overflow however long the machine runs.
  return ticks / frequency * 1000u + ticks % frequency * 1000u / frequency;
}

std::FILE* platform_open_regular_file(const char* path) {
  // A device name (NUL, CON, COM1) or a pipe opens as a character device or
  // a pipe, not as a regular file; a folder does not open at all.
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return nullptr;
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool platform_random_bytes(void* out, size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ULONG step = size > 0x10000 ? 0x10000 : static_cast<ULONG>(size);
    if (!RtlGenRandom(bytes, step)) return false;
    bytes += step;
    size -= step;
  }
  return true;
}
