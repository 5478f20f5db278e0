// The fake terminals of the tests, one for each side a terminal has here:
//  - fake_terminal: a pseudo-terminal standing in for the controller's
//    serial port; the program under test opens `device()` (directly, or as
//    COM<n> through MILLRUN_COM<n>), and the test plays the controller at
//    the other end, or only looks at how the port was set up;
//  - the recording terminal: the terminal the progress line draws on, in
//    this process, replaced by one that records what is done to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// What happens to the device end while the program has it closed.
enum class device_end {
  /// Not held: once the program has closed it, nothing keeps its settings.
  left_alone,
  /// Held open by the test too, set raw, so the terminal does not hang up
  /// between the program's openings of it.
  held_open,
};

class fake_terminal {
 public:
  /// Opens a new pseudo-terminal; `device()` is empty when that failed.
  explicit fake_terminal(device_end end = device_end::left_alone);
  ~fake_terminal();
  fake_terminal(const fake_terminal&) = delete;
  fake_terminal& operator=(const fake_terminal&) = delete;

  /// The device path the program opens (e.g. /dev/pts/5).
  const std::string& device() const { return device_; }

  /// Puts the device in MILLRUN_COM<number> of this process until the
  /// terminal goes, so that COM<number> opens it.
  void publish_as_com(int number);

  /// Reads what the program has sent so far (never waits); returns all of
  /// it since the terminal was made.
  std::string take_input();

  /// Writes as much of `bytes` as fits now; returns how much.
  size_t offer(const std::string& bytes);

 private:
  int controller_ = -1;  // the test's end
  int device_fd_ = -1;   // the device end, when held open
  std::string device_;
  std::string variable_;  // MILLRUN_COM<n>, when published
  std::string received_;
};

/// One thing done to the recording terminal.
struct terminal_event {
  std::string kind;  // "draw", "erase" or "line"
  std::string text;
  uint64_t time;  // the clock's last reading
};

/// What the recording terminal answers, and what it has seen. Its clock
/// moves on by `step` at every reading.
struct recording_terminal {
  bool possible = true;  // whether a status line can be drawn
  int columns = 0;
  uint64_t now = 1000;
  uint64_t step = 0;
  int clock_reads = 0;
  std::vector<terminal_event> events;

  /// The texts of the "line" events (whole lines written, such as the
  /// estimate at the end of a run).
  std::vector<std::string> lines() const;
};

/// Resets the one recording terminal. (The progress line talks to its
/// terminal through plain functions, so there is only one.)
recording_terminal& install_recording_terminal();

struct progress_terminal;
/// The terminal to hand a progress line so that it draws on the recording
/// terminal.
const progress_terminal& recording_progress_terminal();

/// The one recording terminal, installed or not.
recording_terminal& recorded_terminal();
