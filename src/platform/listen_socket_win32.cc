#include <winsock2.h>

#include "platform/listen_socket.h"

bool platform_exclusive_listen(std::uintptr_t socket) {
  // Windows lets a port be shared unless the socket asks for it alone.
  BOOL yes = TRUE;
  return setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                    reinterpret_cast<const char*>(&yes), sizeof(yes)) == 0;
}
