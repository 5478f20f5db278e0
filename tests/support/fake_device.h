// A device for unit tests: it records what is written, answers each command
// line through a responder, and can fail writes or go away.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "gcode/axis_words.h"
#include "link/validator_table.h"
#include "platform/device.h"

class fake_device final : public device {
 public:
  /// Given a command line (without its line feed), returns the bytes the
  /// controller sends back.
  using responder = std::function<std::string(const std::string& command)>;

  explicit fake_device(responder r = {}) : respond_(std::move(r)) {}

  /// Bytes already waiting to be read (noise, a late terminator).
  void push_input(const std::string& bytes) {
    input_.insert(input_.end(), bytes.begin(), bytes.end());
  }

  read_status read_pending_byte(unsigned char& byte) override {
    if (input_.empty()) return gone_ ? read_status::gone : read_status::nothing;
    byte = static_cast<unsigned char>(input_.front());
    input_.pop_front();
    return read_status::byte;
  }

  read_status wait_byte(unsigned char& byte) override {
    // Nothing more will ever arrive once the input is used up: a real device
    // would wait for ever, so the fake reports the device gone.
    if (input_.empty()) {
      ++waits_with_nothing_to_come;
      return read_status::gone;
    }
    byte = static_cast<unsigned char>(input_.front());
    input_.pop_front();
    return read_status::byte;
  }

  bool write(const char* data, size_t length, size_t& written) override {
    writes.emplace_back(data, length);
    if (fail_writes_) {
      written = 0;
      return false;
    }
    written = length > short_write_limit_ ? short_write_limit_ : length;
    wire.append(data, written);
    // A complete command line gets its reply.
    size_t end;
    while ((end = wire.find('\n', consumed_)) != std::string::npos) {
      std::string command = wire.substr(consumed_, end - consumed_);
      consumed_ = end + 1;
      commands.push_back(command);
      if (respond_) push_input(respond_(command));
    }
    return true;
  }

  bool apply_line_settings(const line_settings& s) override {
    settings.push_back(s);
    return accept_settings_;
  }

  void fail_writes(bool fail) { fail_writes_ = fail; }
  void short_writes(size_t limit) { short_write_limit_ = limit; }
  void refuse_settings() { accept_settings_ = false; }
  void set_gone() { gone_ = true; }
  size_t pending() const { return input_.size(); }

  std::string wire;                     // every byte written, in order
  std::vector<std::string> writes;      // each write call's bytes
  std::vector<std::string> commands;    // each complete command line
  std::vector<line_settings> settings;  // each apply_line_settings call
  int waits_with_nothing_to_come = 0;   // waits a real device would never end

 private:
  responder respond_;
  std::deque<char> input_;
  size_t consumed_ = 0;
  size_t short_write_limit_ = SIZE_MAX;
  bool fail_writes_ = false;
  bool accept_settings_ = true;
  bool gone_ = false;
};

/// Answers like a healthy controller, from its own table rather than the
/// program's table of expected replies, so that a wrong entry there fails a
/// test: a scale query with the default scale of its axis, a home command
/// with a position before the inch mark and "/1000, every other command
/// with "X".
inline std::string healthy_controller(const std::string& command) {
  struct answer {
    const char* command_start;
    const char* reply;
  };
  static const answer answers[] = {
      {"get_native_axis_scale X", "1024/1688\"/1000\r\n"},
      {"get_native_axis_scale Y", "1024/1688\"/1000\r\n"},
      {"get_native_axis_scale Z", "4000/1000\"/1000\r\n"},
      {"x_home ", "0.000\"/1000\r\n"},
      {"y_home ", "0.000\"/1000\r\n"},
      {"z_home ", "0.000\"/1000\r\n"},
      {"xyz_home ", "0.000\"/1000\r\n"},
  };
  for (const answer& a : answers)
    if (command.rfind(a.command_start, 0) == 0) return a.reply;
  return "X\r\n";
}
