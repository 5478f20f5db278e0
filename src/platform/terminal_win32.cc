// The status line in a Windows console. Where the console understands ANSI
// sequences (Windows 10 and later, once asked to) the line is redrawn as on
// other systems; an older console is driven through its screen buffer: the
// cursor goes back to the start of its row and the rest of the row is
// filled with blanks.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/terminal.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

// Whether the console takes ANSI sequences; settled by
// platform_status_line_possible.
bool ansi_console = false;

HANDLE error_handle() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return handle && GetConsoleMode(handle, &mode) != 0;
}

/// Writes all of `data` to the console; best effort.
void write_console(HANDLE handle, const char* data, size_t length) {
  while (length > 0) {
    DWORD chunk = length > 4096 ? 4096 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteConsoleA(handle, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    length -= written;
  }
}

/// Blanks the cursor's row from column `from` to its end and puts the
/// cursor at `cursor_column` of that row.
void blank_row(HANDLE handle, SHORT from, SHORT cursor_column) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(handle, &info)) return;
  const SHORT row = info.dwCursorPosition.Y;
  const SHORT width = info.dwSize.X;
  if (from < width) {
    DWORD done = 0;
    COORD start{from, row};
    FillConsoleOutputCharacterA(handle, ' ', static_cast<DWORD>(width - from), start, &done);
    FillConsoleOutputAttribute(handle, info.wAttributes, static_cast<DWORD>(width - from), start,
                               &done);
  }
  SetConsoleCursorPosition(handle, COORD{cursor_column, row});
}

}  // namespace

bool platform_status_line_possible() {
  HANDLE handle = error_handle();
  if (!is_console(handle)) return false;
  // A process has one console: standard output in it is the same window,
  // and the trace would tear the status line.
  if (is_console(GetStdHandle(STD_OUTPUT_HANDLE))) return false;
  DWORD mode = 0;
  GetConsoleMode(handle, &mode);
  ansi_console = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                 SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  return true;
}

int platform_terminal_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  HANDLE handle = error_handle();
  if (!handle || !GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void platform_draw_status_line(const char* text, size_t length) {
  HANDLE handle = error_handle();
  if (!handle) return;
  // Whatever the runtime still holds for standard error goes first.
  std::fflush(stderr);
  if (ansi_console) {
    char line[1024];
    static const char erase_to_end[] = "\x1b[K";
    const size_t room = sizeof line - 1 - (sizeof erase_to_end - 1);
    if (length > room) length = room;
    line[0] = '\r';
    std::memcpy(line + 1, text, length);
    std::memcpy(line + 1 + length, erase_to_end, sizeof erase_to_end - 1);
    write_console(handle, line, 1 + length + sizeof erase_to_end - 1);
    return;
  }
  if (length > 1000) length = 1000;
  blank_row(handle, 0, 0);
  write_console(handle, text, length);
}

void platform_erase_status_line() {
  HANDLE handle = error_handle();
  if (!handle) return;
  std::fflush(stderr);
  if (ansi_console) {
    static const char erase[] = "\r\x1b[K";
    write_console(handle, erase, sizeof erase - 1);
    return;
  }
  blank_row(handle, 0, 0);
}

void platform_write_error_line(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void platform_fill_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (_get_osfhandle(fd) != -1) continue;
    int null_device = _open("NUL", _O_RDWR);
    // The lowest free number is `fd` itself; anything else is not ours.
    if (null_device >= 0 && null_device != fd) _close(null_device);
  }
}

void platform_discard_standard_output() {
  std::fflush(stdout);
  int null_device = _open("NUL", _O_WRONLY);
  if (null_device < 0) return;
  _dup2(null_device, _fileno(stdout));
  _close(null_device);
}

uint64_t platform_coarse_now_ms() { return GetTickCount64(); }
