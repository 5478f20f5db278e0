// A server's listening socket, before it is bound. One implementation file
// per OS.
#pragma once

#include <cstdint>

/// Makes `socket` refuse an address another socket already listens on (no
/// port sharing between two servers), while a port left in TIME_WAIT by a
/// server that has just exited may be bound again. False when the system
/// refused the option.
bool platform_exclusive_listen(std::uintptr_t socket);
