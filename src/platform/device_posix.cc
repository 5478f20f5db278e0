// Serial ports, parallel ports and files on POSIX.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/device.h"

port_handle platform_open_device(const char*, port_kind, open_disposition) { return nullptr; }

void platform_close_device(port_handle handle) { delete handle; }
