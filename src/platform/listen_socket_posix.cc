#include <sys/socket.h>

#include "platform/listen_socket.h"

bool platform_exclusive_listen(std::uintptr_t socket) {
  // SO_REUSEADDR alone: a TIME_WAIT port may be reused, a listening one not
  // (SO_REUSEPORT would let a second server share the port and its clients).
  int yes = 1;
  return setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes)) == 0;
}
