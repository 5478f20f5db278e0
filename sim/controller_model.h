// The simulated machine controller: what it understands, where its axes
// stand, how it answers, and the faults it can be told to commit. Plain
// state and free functions on strings, so that all of it can be tested
// without a terminal; sim/pty_server puts it on a pseudo-terminal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>

/// What the controller does instead of (or on top of) its normal answer to
/// one command, chosen by the command's number.
enum class fault_kind {
  none,
  error,    // not executed; the reply is "E"
  empty,    // not executed; the reply is only the line end
  garbage,  // not executed; the reply is "#?garbage?#"
  noise,    // executed and answered; noise bytes follow the reply in the same write
  slow,     // executed; the reply goes out one byte at a time, 30 ms apart
  hangup,   // not executed, not answered; the terminal is replaced by a new one
  vanish,   // not executed, not answered; the terminal and its link disappear
  silent,   // executed, never answered
};

/// The name used on the command line ("error", "hangup", ...).
const char* fault_name(fault_kind kind);

enum class link_action {
  keep,     // go on serving the same terminal
  hang_up,  // close the terminal, open a new one, re-point the link
  vanish,   // close the terminal, remove the link, serve nothing more
};

/// Everything that is set from the command line and fixed for the run.
struct controller_config {
  /// The scale of each axis (X, Y, Z) as "NUM/DEN".
  std::array<std::string, 3> scale = {"1024/1688", "1024/1688", "4000/1000"};
  /// A whole scale reply per axis that replaces the one built from `scale`.
  std::array<std::optional<std::string>, 3> scale_reply;
  /// Real time a move takes per step of its longest axis.
  uint32_t ms_per_step = 0;
  /// The terminator of every reply line.
  std::string line_end = "\r\n";
  /// Faults by 1-based command number.
  std::map<uint64_t, fault_kind> faults;
};

/// The controller's state for the run. It survives hang-ups of the link.
struct controller {
  controller_config config;
  /// Position of X, Y, Z in steps from home; positive is r, t and u.
  std::array<int64_t, 3> position = {0, 0, 0};
  /// Non-empty lines received so far.
  uint64_t command_count = 0;
  /// "cmd: TEXT\n" for every command received, in order.
  std::string transcript;
};

/// The controller's answer to one line.
struct controller_reply {
  bool counted = false;  // false for an empty line: nothing happened at all
  bool send = false;     // false: nothing is written (silent, hangup, vanish)
  std::string text;      // the reply line without its terminator
  std::string line_end;  // the terminator
  std::string trailing;  // bytes that follow in the same write (noise)
  bool byte_by_byte = false;
  uint64_t delay_ms = 0;  // real time the command takes before the reply
  link_action action = link_action::keep;
  fault_kind fault = fault_kind::none;
};

/// Every byte of the reply as it goes out: text, line end, trailing bytes.
/// Empty when nothing is sent.
std::string reply_bytes(const controller_reply& reply);

/// The gap between the bytes of a slow reply.
constexpr uint64_t slow_reply_gap_ms = 30;

/// The reply text to the home commands.
extern const char home_reply_text[];

/// A longer line is never a command; it is answered "E". Line assembly keeps
/// at most one byte more than this, so an over-long line stays over-long.
constexpr size_t max_command_length = 256;

/// Handles one received line (without its terminator; a trailing carriage
/// return or line feed is dropped). An empty line is ignored and not
/// counted. Otherwise the command is counted and recorded, a fault set on
/// its number is applied, and the reply says what to send and what to do.
controller_reply handle_command(controller& c, std::string_view line);

/// The transcript: one "cmd: TEXT" line per command received, then
/// "final: x=N y=N z=N" with the positions in steps from home.
std::string transcript_text(const controller& c);

// Configuration from command-line values. Each returns false with a message
// in `error` when the value is malformed; the config is then unchanged.

/// "x=2048/1688": the scale of one axis (axis letter in either case).
bool set_axis_scale(controller_config& config, std::string_view value, std::string& error);
/// "x=TEXT": the whole scale reply of one axis, verbatim.
bool set_scale_reply(controller_config& config, std::string_view value, std::string& error);
/// "N:KIND": a fault on command N (1-based); one fault per command.
bool add_fault(controller_config& config, std::string_view value, std::string& error);
/// "crlf", "lf" or "cr".
bool set_line_end(controller_config& config, std::string_view value, std::string& error);

/// A non-negative decimal integer of digits only that fits 32 bits.
bool parse_count(std::string_view text, uint32_t& value);

/// Cuts the byte stream from the client into lines at every carriage return
/// or line feed. Empty lines are dropped; a line keeps at most
/// max_command_length + 1 bytes.
struct line_splitter {
  std::string partial;
  std::deque<std::string> ready;
};

void split_input(line_splitter& s, const char* data, size_t length);
/// Takes the oldest complete line. False when there is none.
bool take_line(line_splitter& s, std::string& line);
/// Forgets everything received so far, complete or not.
void clear_input(line_splitter& s);
