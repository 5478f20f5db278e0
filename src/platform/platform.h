// The operating-system services other than the device: the message box, the
// sleep, and the clock. One implementation file per OS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

/// Shows a message with an OK button and no owner; returns when it is gone.
/// Where there is no desktop, the caption and text go to standard error and
/// nobody is waited for.
void platform_show_message(const char* caption, const char* text);

/// Waits `milliseconds`. Returns false, at once, when a stop is requested
/// before or during the wait (see platform_stop_requested).
bool platform_sleep_ms(uint32_t milliseconds);

/// True once the user asked the run to stop (Ctrl-C, a termination request,
/// the terminal hung up). The request stays until platform_clear_stop.
bool platform_stop_requested();

/// Makes Ctrl-C, a termination request and a hang-up of the terminal set the
/// stop request instead of ending the process, and keeps a closed standard
/// output from ending it. A stop request ends every wait of the platform
/// layer at once (a sleep, the wait for a byte, the wait to write), also one
/// that begins after the request; a device then reports itself gone, and a
/// write that would have to wait fails.
void platform_watch_stop_signals();
void platform_request_stop();
void platform_clear_stop();

/// Monotonic milliseconds since an arbitrary start.
uint64_t platform_now_ms();

/// Fills `size` bytes at `out` from the system's cryptographic random
/// source. False when it cannot deliver them (nothing else is a substitute).
bool platform_random_bytes(void* out, size_t size);

/// Opens `path` for reading in binary mode when it names a regular file (a
/// link to one included). Null when it cannot be opened, and for a folder, a
/// device, a FIFO or a socket: such a thing never ends (/dev/zero) or waits
/// for a writer (a FIFO), and the opening itself does not wait.
std::FILE* platform_open_regular_file(const char* path);
