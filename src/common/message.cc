#include "common/message.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace {
message_buffers shared_buffers;
message_buffers resume_buffers;
message_observer observer = nullptr;
before_message_hook before_message = nullptr;
message_shown_hook message_shown = nullptr;
}  // namespace

message_buffers& shared_message() { return shared_buffers; }
message_buffers& resume_message() { return resume_buffers; }

void format_text(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, size, format, args);
  va_end(args);
  if (n < 0) buffer[0] = '\0';
}

void show_message(const char* caption, const char* text) {
  format_text(shared_buffers.caption, sizeof shared_buffers.caption, "%s", caption);
  format_text(shared_buffers.text, sizeof shared_buffers.text, "%s", text);
  show_buffers(shared_buffers);
}

void show_out_of_memory() { show_message("Fatal Error!", "Out of RAM Memory!"); }

void show_buffers(const message_buffers& buffers) {
  if (platform_stop_requested()) return;
  show_stop_buffers(buffers);
}

void show_stop_buffers(const message_buffers& buffers) {
  if (before_message) before_message();
  if (message_shown) message_shown(buffers.caption, buffers.text);
  if (observer) {
    observer(buffers.caption, buffers.text);
    return;
  }
  platform_show_message(buffers.caption, buffers.text);
}

void show_note(const char* text) {
  if (platform_stop_requested()) return;
  if (before_message) before_message();
  if (message_shown) message_shown("", text);
  // After the message the platform has shown, which went to standard error
  // as well; the box itself keeps its text.
  std::fflush(stdout);
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void set_message_observer(message_observer o) { observer = o; }
void set_before_message_hook(before_message_hook hook) { before_message = hook; }
void set_message_shown_hook(message_shown_hook hook) { message_shown = hook; }
