#include "link/command_exchange.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/message.h"

namespace {

// A command is never sent twice by the exchange itself.
constexpr int resend_limit = 0;

void report_write_failure(const char* command) {
  message_buffers& m = shared_message();
  format_text(m.caption, sizeof m.caption, "%s", "Failed to write to COMM Port");
  format_text(m.text, sizeof m.text, "An error occurred while trying to send command \"%s\".",
              command);
  show_buffers(m);
}

/// Whether the last reply ended in a carriage return whose line feed may
/// still be on its way. At 9600 baud that line feed arrives about a
/// millisecond after the carriage return, often after the next command's
/// drain: it is the end of the last reply, not an empty reply to the next
/// command.
struct exchange_record {
  bool line_feed_may_follow = false;
};
exchange_record exchange;

void report_out_of_memory() { show_message("Fatal Error!", "Out of RAM Memory!"); }

bool write_whole(port_handle handle, const char* data, size_t length) {
  size_t written = 0;
  return handle->write(data, length, written) && written == length;
}

}  // namespace

void release_reply(reply_line line) { std::free(line); }

void drain_input(port_handle handle) {
  if (!handle) return;
  unsigned char byte = 0;
  while (handle->read_pending_byte(byte) == read_status::byte) exchange.line_feed_may_follow = false;
}

void reset_command_exchange() { exchange = exchange_record{}; }

bool send_command(const char* command, port_handle handle) {
  drain_input(handle);
  bool ok = handle && write_whole(handle, command, std::strlen(command)) &&
            write_whole(handle, "\n", 1);
  if (!ok) report_write_failure(command);
  return ok;
}

reply_line read_response_line(port_handle handle, const match_pattern& pattern, bool& accepted) {
  accepted = false;
  if (!handle) return nullptr;
  // The line grows by doubling rather than by one allocation per byte; no
  // caller can tell the difference.
  char* line = nullptr;
  size_t length = 0;
  size_t capacity = 0;
  // NOTE: a zero byte ends the text that is matched and traced; the rest of
  // that reply line, up to its terminator, is read and discarded.
  bool cut_at_zero = false;
  for (;;) {
    unsigned char byte = 0;
    // A device that is gone delivers no reply: end the wait instead of
    // reading again for ever.
    if (handle->wait_byte(byte) != read_status::byte) {
      std::free(line);
      return nullptr;
    }
    if (byte == '\n' && length == 0 && !cut_at_zero && exchange.line_feed_may_follow) {
      exchange.line_feed_may_follow = false;  // the rest of the last reply's end
      continue;
    }
    exchange.line_feed_may_follow = false;
    if (byte == '\r' || byte == '\n') {
      exchange.line_feed_may_follow = byte == '\r';
      break;
    }
    if (byte == 0) cut_at_zero = true;
    if (cut_at_zero) continue;
    if (length + 2 > capacity) {
      size_t grown = capacity == 0 ? 16 : capacity * 2;
      char* bigger = static_cast<char*>(std::realloc(line, grown));
      if (!bigger) {
        std::free(line);
        report_out_of_memory();
        return nullptr;
      }
      line = bigger;
      capacity = grown;
    }
    line[length++] = static_cast<char>(byte);
    line[length] = '\0';
  }
  if (!line) return nullptr;  // the terminator came first: no reply
  accepted = pattern_matches(line, pattern);
  std::printf("%s: %s\n", accepted ? "RESP" : "ERR", line);
  return line;
}

bool await_response(const char* command, port_handle handle, const match_pattern& pattern) {
  bool accepted = false;
  reply_line line = read_response_line(handle, pattern, accepted);
  int attempts = 0;
  while (!accepted) {
    if (++attempts > resend_limit) break;
    if (!send_command(command, handle)) break;
    release_reply(line);
    line = read_response_line(handle, pattern, accepted);
  }
  if (accepted) {
    release_reply(line);
    return true;
  }
  if (!line) {
    message_buffers& m = shared_message();
    format_text(m.caption, sizeof m.caption, "%s", "CNC Machine Response: No Response!");
    format_text(m.text, sizeof m.text, "No response was received, to command \"%s\".", command);
    show_buffers(m);
    return false;
  }
  // NOTE: a rejected reply is not shown as a message: the "ERR" trace line
  // already printed is its only sign, and the caller's recovery follows.
  release_reply(line);
  return false;
}

bool send_and_validate(const char* command, const match_pattern& pattern, port_handle handle) {
  if (!handle) return true;
  if (!send_command(command, handle)) return false;
  return await_response(command, handle, pattern);
}
