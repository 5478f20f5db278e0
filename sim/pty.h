// The operating-system services of the controller simulator (millsim): a
// pseudo-terminal that stands in for the serial line, a symbolic link that
// gives it a fixed name, waiting for input without spinning, and the stop
// signals. Only the simulator uses this; millrun never does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// One pseudo-terminal pair. The simulator talks on `master_fd`; it also
/// keeps `slave_fd` open itself, so that a client closing and re-opening
/// `device_path` is never seen as a hang-up on the master side.
struct pseudo_terminal {
  int master_fd = -1;
  int slave_fd = -1;
  std::string device_path;  // the device a client opens, e.g. /dev/pts/5
};

/// Opens a new pair in raw mode (no echo, no translation of carriage returns
/// or line feeds either way, 8-bit bytes). The master never blocks. On
/// failure nothing stays open and `error` says why.
bool pty_open(pseudo_terminal& term, std::string& error);

/// Closes both sides; a client then sees a hang-up. Safe on a closed pair.
void pty_close(pseudo_terminal& term);

enum class wait_outcome {
  input,   // bytes are waiting on the master
  stop,    // a stop signal arrived
  failed,  // the master reported an error or a hang-up
};

/// Waits, without a time limit and without spinning, for input on the
/// terminal or a stop signal. With `term` null only a stop signal ends it.
wait_outcome pty_wait_input(const pseudo_terminal* term);

/// Reads what is pending on the master, at most `capacity` bytes. Returns
/// the count (0 when nothing is pending), or -1 when the master failed.
long pty_read(pseudo_terminal& term, char* buffer, size_t capacity);

enum class write_outcome { done, stop, failed };

/// Writes all `length` bytes to the master, waiting for room when the
/// client's input queue is full. A stop signal ends the wait.
write_outcome pty_write_all(pseudo_terminal& term, const char* data, size_t length);

/// Waits `milliseconds`. False when a stop signal cut the wait short.
bool pty_pause_ms(uint64_t milliseconds);

/// Makes SIGTERM and SIGINT set the stop flag and wake any wait above. The
/// handler does nothing else.
bool install_stop_signals(std::string& error);

/// True once SIGTERM or SIGINT has arrived.
bool stop_requested();

/// Makes `link_path` a symbolic link to `target`, replacing an existing
/// symbolic link atomically (a temporary link renamed over it). Anything at
/// `link_path` that is not a symbolic link is left alone and is an error.
bool point_link(const std::string& link_path, const std::string& target, std::string& error);

/// Removes `link_path` if it is a symbolic link to `target`; a link that
/// someone else has re-pointed meanwhile is left alone.
void remove_link(const std::string& link_path, const std::string& target);
