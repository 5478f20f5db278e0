// The message box on Windows. The message also goes to standard error, in
// the same two-line form as on other systems: a console or a redirected
// run keeps a record of every problem, and where no desktop can show the
// box (a service, a headless test machine) the message is not lost.
#include <windows.h>

#include <cstdio>

#include "platform/message_stream.h"
#include "platform/platform.h"

void platform_show_message(const char* caption, const char* text) {
  write_message_to_stderr(caption, text);
  // Modal, no owner, one OK button; the run goes on once it is closed.
  MessageBoxA(nullptr, text, caption, MB_OK);
}
