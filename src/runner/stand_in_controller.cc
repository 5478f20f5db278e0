#include "runner/stand_in_controller.h"

#include <new>
#include <string>

#include "link/validator_table.h"

namespace {

class stand_in_controller final : public device {
 public:
  read_status read_pending_byte(unsigned char& byte) override {
    return next(byte) ? read_status::byte : read_status::nothing;
  }
  // Every reply is queued with its command: a wait with nothing queued
  // would never end, so it ends as a device gone.
  read_status wait_byte(unsigned char& byte) override {
    return next(byte) ? read_status::byte : read_status::gone;
  }
  bool write(const char* data, size_t length, size_t& written) override {
    for (size_t i = 0; i < length; ++i) {
      if (data[i] != '\n') {
        command_.push_back(data[i]);
        continue;
      }
      // The shortest reply the command expects: "X" for a move, an inch
      // mark and "/1000 for a home command or a scale query (a reply
      // without numbers leaves the scales as they are).
      const match_pattern* reply = expected_reply(command_.c_str());
      replies_ += reply ? reply->text : reposition_reply_pattern.text;
      replies_ += "\r\n";
      command_.clear();
    }
    written = length;
    return true;
  }
  bool apply_line_settings(const line_settings&) override { return true; }

 private:
  bool next(unsigned char& byte) {
    if (read_ >= replies_.size()) {
      replies_.clear();
      read_ = 0;
      return false;
    }
    byte = static_cast<unsigned char>(replies_[read_++]);
    return true;
  }
  std::string command_;
  std::string replies_;
  size_t read_ = 0;
};

}  // namespace

port_handle open_stand_in_controller(const char*, port_kind, open_disposition) {
  return new (std::nothrow) stand_in_controller;
}

run_options stand_in_run_options(const std::string& script) {
  run_options options;
  options.script = script;
  options.write_outputs = false;
  options.dwells_wait = false;
  options.opener = open_stand_in_controller;
  return options;
}
