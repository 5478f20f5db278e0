#include "preview/stand_in_controller.h"

#include <new>
#include <string>

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
      // Home commands and scale queries end their reply in an inch mark and
      // "/1000; a reply without numbers leaves the scales as they are.
      bool home_like = command_.find("_home ") != std::string::npos ||
                       command_.rfind("get_native_axis_scale ", 0) == 0;
      replies_ += home_like ? "\"/1000\r\n" : "X\r\n";
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
