// Opening the link to the controller: a serial port (COM n), a parallel
// port (LPT n) or, failing both, a file. Serial and parallel devices are
// remembered so that a failed command can open the same device again.
#pragma once

#include <cstdint>

#include "platform/device.h"

/// The last serial or parallel port for which an opening was attempted.
struct port_memory_record {
  char device_path[256] = {};  // prefix included; empty while there was none
  bool lpc2000 = false;
  int32_t baud = 0;
};

port_memory_record& port_memory();
void reset_port_memory();

/// The four-character device prefix: backslash, backslash, full stop, backslash.
extern const char* const device_prefix;

/// The kind a name stands for: COM or LPT (any case) followed by a decimal
/// number other than 0 is a serial or parallel port; anything else a file.
port_kind port_kind_of(const char* name);

/// Opens the port or file `name`; a serial port gets its line settings.
/// `handle_out` (optional) receives the handle, or null on failure; the
/// handle it held is overwritten, never closed. Failures are reported.
bool open_comm_port(const char* name, bool lpc2000, int32_t baud, port_handle* handle_out);

/// Opens the remembered device again exactly as its first opening did.
bool reopen_remembered_port(port_handle* handle_out);

/// Closes a handle this module opened. Null is fine.
void close_port(port_handle handle);

/// Closes every handle still open: those a later "open comm" overwrote
/// without closing, and those a failed script left open. The end of a run.
void close_all_ports();

/// Tests open fakes instead of devices; null restores the platform's opener.
using device_opener = port_handle (*)(const char* path, port_kind kind, open_disposition how);
void set_device_opener(device_opener opener);

/// The LPC2000 reset: DTR on for 500 ms, then off for 500 ms, RTS off
/// throughout; then the pending input is discarded. Results are ignored.
void pulse_lpc2000_reset(port_handle handle);
