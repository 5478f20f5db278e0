#include "link/port_opening.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include "common/decimal.h"
#include "common/message.h"
#include "link/command_exchange.h"
#include "platform/platform.h"

const char* const device_prefix = "\\\\.\\";

namespace {

port_memory_record memory;
device_opener opener = nullptr;
// Every handle opened and not yet closed. An "open comm" overwrites the
// handle it replaces without closing it (so that port stays in use); the run
// still releases it at its end.
std::vector<port_handle> open_handles;

const char* kind_word(port_kind kind) {
  switch (kind) {
    case port_kind::serial:
      return "Serial Port";
    case port_kind::parallel:
      return "Parallel Port";
    case port_kind::file:
      break;
  }
  return "File";
}

bool starts_with_folded(const char* text, const char* upper_prefix) {
  for (; *upper_prefix; ++text, ++upper_prefix) {
    char c = *text;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != *upper_prefix) return false;
  }
  return true;
}

void report_open_failure(port_kind kind, const char* name) {
  message_buffers& m = shared_message();
  format_text(m.caption, sizeof m.caption, "%s", "Failed to Open COMM Port");
  format_text(m.text, sizeof m.text, "An error occurred while trying to open %s \"%s\"",
              kind_word(kind), name);
  show_buffers(m);
}

// Why the last open_and_configure failed, for the line that follows the
// message of a port that could not be opened.
enum class open_failure { none, device, settings };
open_failure last_failure = open_failure::none;

/// The line after the message of a serial or parallel port: the device
/// tried and why it failed. Not for a test's fake devices, which have no
/// system reason.
void tell_what_was_tried(const char* path, port_kind kind) {
  if (kind == port_kind::file || opener || last_failure == open_failure::none) return;
  char text[768];
  if (last_failure == open_failure::settings)
    format_text(text, sizeof text, "The device %s refused the line settings (%ld baud, 8N1).", path,
                static_cast<long>(memory.baud));
  else
    platform_describe_failed_opening(path, kind, text, sizeof text);
  show_note(text);
}

/// Whether `name` is a path under /dev, where the system keeps its devices:
/// a terminal there is a serial port, and nothing is ever created there.
bool names_device_node(const char* name) { return std::strncmp(name, "/dev/", 5) == 0; }

line_settings settings_for(int32_t baud, bool lpc2000) {
  line_settings s;
  s.baud = baud;
  s.dtr_on = !lpc2000;
  s.rts_on = !lpc2000;
  return s;
}

/// Opens and, for a serial port, configures. Refused settings close the
/// handle again.
port_handle open_and_configure(const char* path, port_kind kind, open_disposition disposition,
                               int32_t baud, bool lpc2000) {
  port_handle handle =
      opener ? opener(path, kind, disposition) : platform_open_device(path, kind, disposition);
  last_failure = handle ? open_failure::none : open_failure::device;
  reset_command_exchange();
  if (handle && kind == port_kind::serial &&
      !handle->apply_line_settings(settings_for(baud, lpc2000))) {
    platform_close_device(handle);
    handle = nullptr;
    last_failure = open_failure::settings;
  }
  if (handle) open_handles.push_back(handle);
  return handle;
}

}  // namespace

port_memory_record& port_memory() { return memory; }
void set_device_opener(device_opener o) { opener = o; }

void close_port(port_handle handle) {
  if (!handle) return;
  auto found = std::find(open_handles.begin(), open_handles.end(), handle);
  if (found != open_handles.end()) open_handles.erase(found);
  platform_close_device(handle);
}

void close_all_ports() {
  while (!open_handles.empty()) {
    platform_close_device(open_handles.back());
    open_handles.pop_back();
  }
}
void reset_port_memory() {
  memory = port_memory_record{};
  last_failure = open_failure::none;
}

port_kind port_kind_of(const char* name) {
  bool serial = starts_with_folded(name, "COM");
  if (!serial && !starts_with_folded(name, "LPT")) return port_kind::file;
  if (read_integer(name + 3) == 0) return port_kind::file;
  return serial ? port_kind::serial : port_kind::parallel;
}

namespace {

/// A name under /dev: a terminal is opened as a serial port, named by its
/// own path (remembered so that a recovery opens it again); a name there
/// that names nothing is refused, never created; anything else is a file.
port_handle open_device_node(const char* name, bool lpc2000, int32_t baud, port_kind& kind) {
  const node_state state = opener ? node_state::other : platform_node_state(name);
  if (state == node_state::missing) {
    report_open_failure(kind, name);
    char text[512];
    format_text(text, sizeof text,
                "%s does not exist: no such device is attached, or its name differs. Nothing is "
                "created under /dev.",
                name);
    show_note(text);
    return nullptr;
  }
  if (state == node_state::other)
    return open_and_configure(name, kind, open_disposition::always, baud, lpc2000);
  kind = port_kind::serial;
  const size_t length = std::strlen(name);
  // A path that does not fit the remembered path is refused, as a COM name
  // that does not fit is (see open_comm_port).
  if (length >= sizeof memory.device_path) return nullptr;
  std::memcpy(memory.device_path, name, length + 1);
  memory.lpc2000 = lpc2000;
  memory.baud = baud;
  return open_and_configure(name, kind, open_disposition::existing, baud, lpc2000);
}

}  // namespace

bool open_comm_port(const char* name, bool lpc2000, int32_t baud, port_handle* handle_out) {
  port_kind kind = port_kind_of(name);
  port_handle handle = nullptr;
  last_failure = open_failure::none;
  if (kind == port_kind::file && names_device_node(name)) {
    handle = open_device_node(name, lpc2000, baud, kind);
    if (!handle && kind == port_kind::file && last_failure == open_failure::none) {
      if (handle_out) *handle_out = nullptr;
      return false;  // refused and told
    }
  } else if (kind == port_kind::file) {
    handle = open_and_configure(name, kind, open_disposition::always, baud, lpc2000);
  } else {
    char path[sizeof memory.device_path];
    int length = std::snprintf(path, sizeof path, "%s%s", device_prefix, name);
    // NOTE: a name whose device path would not fit the remembered path is
    // refused as a failed opening, and port_memory keeps its old device: a
    // cut path would name another device.
    if (length > 0 && static_cast<size_t>(length) < sizeof path) {
      std::memcpy(memory.device_path, path, static_cast<size_t>(length) + 1);
      memory.lpc2000 = lpc2000;
      memory.baud = baud;
      handle = open_and_configure(path, kind, open_disposition::existing, baud, lpc2000);
    }
  }
  if (handle_out) *handle_out = handle;
  if (!handle) {
    report_open_failure(kind, name);
    tell_what_was_tried(kind == port_kind::file ? name : memory.device_path, kind);
    return false;
  }
  return true;
}

bool reopen_remembered_port(port_handle* handle_out) {
  const char* path = memory.device_path;
  size_t prefix_length = std::strlen(device_prefix);
  // Only a serial or parallel port is remembered: a path without the prefix
  // is a terminal named under /dev, a serial port.
  port_kind kind = std::strncmp(path, device_prefix, prefix_length) == 0
                       ? port_kind_of(path + prefix_length)
                       : port_kind::serial;
  port_handle handle =
      open_and_configure(path, kind, open_disposition::existing, memory.baud, memory.lpc2000);
  if (handle_out) *handle_out = handle;
  if (!handle) {
    report_open_failure(kind, path);
    tell_what_was_tried(path, kind);
    return false;
  }
  return true;
}

void pulse_lpc2000_reset(port_handle handle) {
  if (!handle) return;
  line_settings s;
  s.baud = memory.baud;
  s.dtr_on = true;
  s.rts_on = false;
  handle->apply_line_settings(s);
  platform_sleep_ms(500);
  s.dtr_on = false;
  handle->apply_line_settings(s);
  platform_sleep_ms(500);
  drain_input(handle);
}
