// The link protocol: one command line goes out, one reply line comes back
// and is tested against a response pattern. Pending input is discarded
// before each command so that a reply always belongs to the command just
// sent. Without a port every command counts as accepted.
#pragma once

#include "link/validator_table.h"
#include "platform/device.h"

/// A reply line: a heap text owned by the caller of read_response_line,
/// released with release_reply.
using reply_line = char*;
void release_reply(reply_line line);

/// Reads and discards whatever input is pending.
void drain_input(port_handle handle);

/// Forgets what the last reply left on the way (a new link, a new run).
void reset_command_exchange();

/// Drains, then writes the command and one line feed. False (with the
/// write-failure message) when either write did not transfer all its bytes.
bool send_command(const char* command, port_handle handle);

/// Reads one reply line (the bytes up to a carriage return or line feed),
/// traces it and tests it. Null when the terminator came first or the link
/// is gone. `accepted` receives whether the line matched.
reply_line read_response_line(port_handle handle, const match_pattern& pattern, bool& accepted);

/// Reads the reply to a command already sent. False for a missing or
/// rejected reply; a missing one is reported.
bool await_response(const char* command, port_handle handle, const match_pattern& pattern);

/// The whole exchange for one command. A null handle returns true at once,
/// with no output of any kind.
bool send_and_validate(const char* command, const match_pattern& pattern, port_handle handle);
