// Serial ports, parallel ports and files on Windows, opened by CreateFileA
// under the names the script gives ("\\.\COM3") and used synchronously.
//
// NOTE: reading needs two behaviours from one port: the drain before a
// command must come back at once when nothing is pending, and the wait for a
// reply must block without spinning. A port carries one set of read
// time-outs, so the device switches between two sets, and only when the
// kind of read changes (twice per command):
//   at once:  ReadIntervalTimeout MAXDWORD, both totals 0 - the read returns
//             with whatever has arrived, possibly nothing;
//   waiting:  interval 0, multiplier 0, constant 200 ms - a one-byte read
//             returns as soon as the byte arrives, or after 200 ms with
//             nothing, when the stop request and the port's status are
//             looked at and the read repeated. The wait thus has no limit,
//             yet Ctrl-C or a vanished port ends it.
// Write time-outs stay 0: a write returns when every byte is handed over.
#include <windows.h>

#include <cstdio>

#include "platform/device.h"
#include "platform/platform.h"

namespace {

constexpr DWORD wait_slice_ms = 200;

DWORD last_open_error = 0;  // why the last opening failed

enum class read_mode { unset, at_once, waiting };

class win32_device final : public device {
 public:
  win32_device(HANDLE handle, bool comm) : handle_(handle), comm_(comm) {}
  ~win32_device() override { CloseHandle(handle_); }

  read_status read_pending_byte(unsigned char& byte) override {
    if (comm_) {
      // Without the time-outs in place a read could block for good: skip it.
      if (!use(read_mode::at_once)) return read_status::gone;
      return read_one(byte, read_status::nothing);
    }
    if (GetFileType(handle_) == FILE_TYPE_PIPE) {
      DWORD available = 0;
      if (!PeekNamedPipe(handle_, nullptr, 0, nullptr, &available, nullptr))
        return read_status::gone;
      if (available == 0) return read_status::nothing;
    }
    // A file: no byte now means its end, and none will ever follow.
    return read_one(byte, read_status::gone);
  }

  read_status wait_byte(unsigned char& byte) override { return wait(byte, INFINITE); }
  read_status wait_byte_for(unsigned char& byte, uint32_t timeout_ms) override {
    return wait(byte, timeout_ms);
  }

 private:
  /// Waits in slices of wait_slice_ms; after `timeout_ms` (INFINITE: never)
  /// without a byte, nothing.
  read_status wait(unsigned char& byte, DWORD timeout_ms) {
    if (platform_stop_requested()) return read_status::gone;
    // NOTE: a pipe's read blocks until a byte comes or the other end goes;
    // a stop asked for meanwhile is seen at the next read.
    if (!comm_) return read_one(byte, read_status::gone);
    if (!use(read_mode::waiting)) return read_status::gone;
    const ULONGLONG started = GetTickCount64();
    for (;;) {
      if (platform_stop_requested()) return read_status::gone;
      read_status status = read_one(byte, read_status::nothing);
      if (status != read_status::nothing) return status;
      if (timeout_ms != INFINITE && GetTickCount64() - started >= timeout_ms)
        return read_status::nothing;
      // A port that went away (a USB adapter pulled, a line hung up) may
      // keep answering reads with nothing; its status says it is gone.
      DWORD errors = 0;
      if (!ClearCommError(handle_, &errors, nullptr)) return read_status::gone;
    }
  }

 public:
  bool write(const char* data, size_t length, size_t& written) override {
    written = 0;
    DWORD count = 0;
    if (length > MAXDWORD) return false;
    BOOL ok = WriteFile(handle_, data, static_cast<DWORD>(length), &count, nullptr);
    written = count;
    return ok != FALSE;
  }

  bool apply_line_settings(const line_settings& settings) override {
    // Built from zero each time and never read back from the port: only the
    // fields below are set, every flag, limit and special character is 0.
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fDtrControl = settings.dtr_on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = settings.rts_on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    return SetCommState(handle_, &dcb) != FALSE;
  }

 private:
  /// One synchronous read of one byte; `empty` is what a read that
  /// delivered nothing means on this device.
  read_status read_one(unsigned char& byte, read_status empty) {
    DWORD count = 0;
    if (!ReadFile(handle_, &byte, 1, &count, nullptr)) return read_status::gone;
    return count == 1 ? read_status::byte : empty;
  }

  bool use(read_mode mode) {
    if (mode == mode_) return true;
    COMMTIMEOUTS t;
    ZeroMemory(&t, sizeof t);
    if (mode == read_mode::at_once)
      t.ReadIntervalTimeout = MAXDWORD;
    else
      t.ReadTotalTimeoutConstant = wait_slice_ms;
    if (!SetCommTimeouts(handle_, &t)) {
      mode_ = read_mode::unset;
      return false;
    }
    mode_ = mode;
    return true;
  }

  HANDLE handle_;
  bool comm_;  // a communications device: its read time-outs can be set
  read_mode mode_ = read_mode::unset;
};

}  // namespace

port_handle platform_open_device(const char* path, port_kind, open_disposition disposition) {
  // Read and write, no sharing (nobody else may use the device or file while
  // it is open), no security attributes, no template, not overlapped.
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              disposition == open_disposition::always ? OPEN_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    last_open_error = GetLastError();
    return nullptr;
  }
  // Whatever answers to the time-out calls is a port, whatever its name; a
  // file or a pipe does not.
  COMMTIMEOUTS current;
  bool comm = GetCommTimeouts(handle, &current) != FALSE;
  return new win32_device(handle, comm);
}

void platform_close_device(port_handle handle) { delete handle; }

node_state platform_node_state(const char* path) {
  // Windows names its ports COMn; a path is never a terminal here.
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return node_state::other;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? node_state::missing
                                                                        : node_state::other;
}

void platform_describe_failed_opening(const char* path, port_kind, char* text, size_t size) {
  char reason[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           last_open_error, 0, reason, sizeof reason, nullptr);
  while (n > 0 && (reason[n - 1] == '\r' || reason[n - 1] == '\n' || reason[n - 1] == '.'))
    reason[--n] = '\0';
  if (n == 0) std::snprintf(reason, sizeof reason, "error %lu", last_open_error);
  std::snprintf(text, size, "Tried the device %s: %s.", path, reason);
}
