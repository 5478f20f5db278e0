// The user-visible messages: a caption and a text, formatted into fixed
// buffers and shown through the platform's message service. Processing goes
// on after the message has been shown.
#pragma once

#include <cstddef>

#include "common/printf_format.h"

struct message_buffers {
  char caption[1024];
  char text[2304];
};

/// The shared buffers of show_message (message_caption, message_text).
message_buffers& shared_message();
/// The recovery reports' own pair of buffers.
message_buffers& resume_message();

/// Formats into a fixed buffer. A text longer than the buffer is cut at its
/// end, always terminated: a long path or script line never overruns it.
void format_text(char* buffer, size_t size, const char* format, ...) MILLRUN_PRINTF_FORMAT(3, 4);

/// Copies caption and text into the shared buffers (cut to fit) and shows them.
void show_message(const char* caption, const char* text);
/// "Fatal Error!": the memory a step needs could not be had.
void show_out_of_memory();
/// Shows what is already in `buffers`. Once the user asked the run to stop,
/// nothing is shown: a failure after the request is the stop's doing (a wait
/// or a write cut short), and "No Response!" or "Error Resuming Operation!"
/// would blame the machine for it. The stop itself is told with
/// show_stop_buffers.
void show_buffers(const message_buffers& buffers);
/// Shows `buffers` whether or not a stop is requested: the stop message.
void show_stop_buffers(const message_buffers& buffers);

/// One more line on standard error after a message, outside its box: advice
/// that the message's own text does not hold (what was tried, what to do),
/// whether or not a desktop shows the message itself. Nothing once a stop
/// was requested.
void show_note(const char* text);

/// Tests route messages to an observer instead of the platform; null restores
/// the platform's message service.
using message_observer = void (*)(const char* caption, const char* text);
void set_message_observer(message_observer observer);

/// Called before every message is shown: a run installs one that tells its
/// observers, so that the progress line erases itself and a message starts on
/// a line of its own. Null for none.
using before_message_hook = void (*)();
void set_before_message_hook(before_message_hook hook);

/// Called with every message as it is shown, and with every note (its
/// caption empty): a run installs one that tells its observers, so that a
/// page that watches the run lists them. Null for none.
using message_shown_hook = void (*)(const char* caption, const char* text);
void set_message_shown_hook(message_shown_hook hook);
