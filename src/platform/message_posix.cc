#include "platform/message_stream.h"
#include "platform/platform.h"

void platform_show_message(const char* caption, const char* text) {
  write_message_to_stderr(caption, text);
}
