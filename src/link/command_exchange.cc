#include "link/command_exchange.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/message.h"
#include "common/run_events.h"
#include "platform/platform.h"

namespace {

// A command is never sent twice by the exchange itself.
constexpr int resend_limit = 0;

// NOTE: the longest reply kept. The expected replies are a few characters;
// a longer line is read on to its terminator (so the next reply starts in
// step), the bytes past this length are discarded, and the line counts as
// rejected: its end, which a pattern may anchor to, was never seen. A
// controller that sends without ever ending the line holds the wait, as a
// silent one does, until the device goes away or the user stops the run,
// but never more memory than this.
constexpr size_t max_reply_length = 64 * 1024;

// NOTE: while an observer shows long waits (the progress line on a
// terminal), the wait for a reply wakes this often to tell it how long the
// wait has lasted. The wait itself has no limit; with nobody watching (a
// log, a redirected run) it sleeps in one piece as before.
constexpr uint32_t wait_wake_ms = 1000;

// NOTE: the most a drain discards before the command goes out anyway. A
// serial line never gets there (the reads outrun it, and the drain ends at
// the first read without a byte); a device that has bytes without end (a
// file link on /dev/urandom) would otherwise hold the drain for ever.
constexpr size_t max_drain_bytes = 64 * 1024;

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
  // The command whose reply is awaited, kept only while a wait is shown:
  // the wait tells them about it.
  char command[128] = {};
};
exchange_record exchange;

bool write_whole(port_handle handle, const char* data, size_t length) {
  size_t written = 0;
  return handle->write(data, length, written) && written == length;
}

}  // namespace

void release_reply(reply_line line) { std::free(line); }

void drain_input(port_handle handle) {
  if (!handle) return;
  unsigned char byte = 0;
  for (size_t drained = 0; drained < max_drain_bytes && !platform_stop_requested(); ++drained) {
    if (handle->read_pending_byte(byte) != read_status::byte) break;
    exchange.line_feed_may_follow = false;
  }
}

void reset_command_exchange() { exchange = exchange_record{}; }

bool send_command(const char* command, port_handle handle) {
  // Nothing goes to the machine once the user asked the run to stop; the
  // failure is the stop's, not the port's, and is not reported.
  if (platform_stop_requested()) return false;
  drain_input(handle);
  if (waits_observed()) std::snprintf(exchange.command, sizeof exchange.command, "%s", command);
  bool ok = handle && !platform_stop_requested() &&
            write_whole(handle, command, std::strlen(command)) && write_whole(handle, "\n", 1);
  if (!ok && !platform_stop_requested()) report_write_failure(command);
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
  bool too_long = false;  // cut at max_reply_length; see there
  const bool watched = waits_observed();
  const uint64_t started = watched ? platform_now_ms() : 0;
  uint64_t last_byte = started;
  for (;;) {
    unsigned char byte = 0;
    const read_status status =
        watched ? handle->wait_byte_for(byte, wait_wake_ms) : handle->wait_byte(byte);
    if (status == read_status::nothing) {
      const uint64_t now = platform_now_ms();
      emit_reply_awaited({exchange.command, now - started, now - last_byte});
      continue;
    }
    // A device that is gone delivers no reply: end the wait instead of
    // reading again for ever.
    if (status != read_status::byte) {
      std::free(line);
      return nullptr;
    }
    if (watched) last_byte = platform_now_ms();
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
    if (cut_at_zero || too_long) continue;
    if (length == max_reply_length) {
      too_long = true;
      continue;
    }
    if (length + 2 > capacity) {
      size_t grown = capacity == 0 ? 16 : capacity * 2;
      if (grown > max_reply_length + 1) grown = max_reply_length + 1;
      char* bigger = static_cast<char*>(std::realloc(line, grown));
      if (!bigger) {
        std::free(line);
        show_out_of_memory();
        return nullptr;
      }
      line = bigger;
      capacity = grown;
    }
    line[length++] = static_cast<char>(byte);
    line[length] = '\0';
  }
  if (!line) return nullptr;  // the terminator came first: no reply
  accepted = !too_long && pattern_matches(line, pattern);
  if (trace_printed()) std::printf("%s: %s\n", accepted ? "RESP" : "ERR", line);
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
  emit_reply_received({command, line, accepted});
  if (accepted) {
    release_reply(line);
    return true;
  }
  // A wait cut short by a stop request is no missing reply: the caller stops
  // the run and says so.
  if (!line && !platform_stop_requested()) {
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
