// The text form of a message on standard error, which every OS shows (a
// desktop's message box comes on top of it).
#pragma once

/// Writes the caption and the text to standard error, each carriage return
/// of the text as a line break, after flushing the trace on standard output
/// so that it stays ahead of the message.
void write_message_to_stderr(const char* caption, const char* text);
