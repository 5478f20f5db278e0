// The recording terminal of support/fake_terminal.h, for every system (the
// pseudo-terminal is in fake_terminal_posix.cc).
#include "support/fake_terminal.h"

#include <gtest/gtest.h>

#include <cstring>

#include "supervision/progress.h"

std::vector<std::string> recording_terminal::lines() const {
  std::vector<std::string> texts;
  for (const terminal_event& e : events)
    if (e.kind == "line") texts.push_back(e.text);
  return texts;
}

recording_terminal& recorded_terminal() {
  static recording_terminal terminal;
  return terminal;
}

namespace {

bool recorded_possible() { return recorded_terminal().possible; }
int recorded_columns() { return recorded_terminal().columns; }
void record_draw(const char* text, size_t length) {
  EXPECT_EQ(std::strlen(text), length);
  recording_terminal& t = recorded_terminal();
  t.events.push_back({"draw", std::string(text, length), t.now});
}
void record_erase() {
  recording_terminal& t = recorded_terminal();
  t.events.push_back({"erase", "", t.now});
}
void record_line(const char* text) {
  recording_terminal& t = recorded_terminal();
  t.events.push_back({"line", text, t.now});
}
uint64_t recorded_now() {
  recording_terminal& t = recorded_terminal();
  ++t.clock_reads;
  t.now += t.step;
  return t.now;
}
const progress_terminal recording{recorded_possible, recorded_columns, record_draw,
                                  record_erase,      record_line,      recorded_now};

}  // namespace

recording_terminal& install_recording_terminal() {
  recorded_terminal() = recording_terminal{};
  return recorded_terminal();
}

const progress_terminal& recording_progress_terminal() { return recording; }
