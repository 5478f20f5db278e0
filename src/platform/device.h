// The link to the machine's controller as the operating system offers it:
// a serial port, a parallel port or a plain file, opened by name, read one
// byte at a time and written whole. One implementation file per OS; tests
// put a fake device behind the same interface.
#pragma once

#include <cstddef>
#include <cstdint>

/// Line settings of a serial port: the baud rate at 8 data bits, no parity,
/// one stop bit, no flow control of any kind, bytes unaltered both ways, and
/// the two modem control lines.
struct line_settings {
  int32_t baud = 0;  // the caller gives the link's rate
  bool dtr_on = true;
  bool rts_on = true;
};

enum class read_status {
  byte,     // one byte was delivered
  nothing,  // no byte is pending now (only from read_pending_byte)
  gone,     // the device will deliver no more: hung up, removed, end of a
            // file, or the user asked the run to stop
};

class device {
 public:
  virtual ~device() = default;
  /// Returns at once: a pending byte, nothing, or gone.
  virtual read_status read_pending_byte(unsigned char& byte) = 0;
  /// Waits, without a time limit and without spinning, for one byte.
  virtual read_status wait_byte(unsigned char& byte) = 0;
  /// Waits at most about `timeout_ms` for one byte: `nothing` when the time
  /// passed without one. A device that cannot wait for a time waits for the
  /// byte.
  virtual read_status wait_byte_for(unsigned char& byte, uint32_t timeout_ms) {
    (void)timeout_ms;
    return wait_byte(byte);
  }
  /// Writes in one call; `written` receives the bytes transferred. False when
  /// the call failed.
  virtual bool write(const char* data, size_t length, size_t& written) = 0;
  /// Applies serial line settings. False when the device refused them.
  virtual bool apply_line_settings(const line_settings& settings) = 0;
};

/// The open port or file; null when no machine is attached.
using port_handle = device*;

enum class open_disposition {
  existing,  // the device must exist
  always,    // a file is created when missing, never truncated
};

enum class port_kind { serial, parallel, file };

/// Opens `path` for exclusive reading and writing. For a serial or parallel
/// port `path` is the device path (the "\\.\" prefix and the name as
/// written); a file is opened under its own name. Null on failure.
port_handle platform_open_device(const char* path, port_kind kind, open_disposition disposition);

/// Closes a handle from platform_open_device (or a test's fake). Null is fine.
void platform_close_device(port_handle handle);

/// What a path names, looked at without opening it for use: nothing, a
/// terminal (a serial port), or anything else. A name under /dev that names
/// a terminal is a serial port; one that names nothing is never created.
enum class node_state { missing, terminal, other };
node_state platform_node_state(const char* path);

/// After platform_open_device failed for a serial or parallel port: one
/// line that names the device tried, the system's reason and how to choose
/// another device.
void platform_describe_failed_opening(const char* path, port_kind kind, char* text, size_t size);
