// Captures the messages the library shows, for the life of the recorder.
#pragma once

#include <string>
#include <vector>

#include "common/message.h"

struct recorded_message {
  std::string caption;
  std::string text;
};

class message_recorder {
 public:
  message_recorder() {
    messages().clear();
    set_message_observer(&record);
  }
  ~message_recorder() { set_message_observer(nullptr); }
  message_recorder(const message_recorder&) = delete;
  message_recorder& operator=(const message_recorder&) = delete;

  const std::vector<recorded_message>& all() const { return messages(); }
  std::vector<std::string> captions() const {
    std::vector<std::string> c;
    for (const recorded_message& m : messages()) c.push_back(m.caption);
    return c;
  }

 private:
  static std::vector<recorded_message>& messages() {
    static std::vector<recorded_message> list;
    return list;
  }
  static void record(const char* caption, const char* text) {
    messages().push_back({caption, text});
  }
};
