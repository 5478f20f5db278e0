// Waiting on POSIX so that a stop request always ends the wait. The stop
// signal's handler also writes a byte into a pipe, and every wait polls that
// pipe beside its own descriptor: a signal that arrives just before a wait
// begins still ends it, where a flag tested before a blocking call would be
// missed until the next signal. Private to the POSIX files of platform/.
#pragma once

#include <cstdint>

enum class posix_wait_result {
  ready,      // `fd` reported `events` (or an error or hang-up: see revents)
  timed_out,  // the time passed
  stopped,    // the user asked the run to stop
  failed,     // poll itself failed
};

/// Waits for `events` on `fd` (none when `fd` is negative: a plain sleep), at
/// most `timeout_ms` milliseconds (negative: without a limit). `revents`
/// receives what poll reported for `fd`.
posix_wait_result posix_wait(int fd, short events, int64_t timeout_ms, short& revents);
