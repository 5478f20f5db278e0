#include <cstdio>

#include "platform/platform.h"

void platform_show_message(const char* caption, const char* text) {
  // Keep the trace that came before the message ahead of it.
  std::fflush(stdout);
  std::fputs(caption, stderr);
  std::fputc('\n', stderr);
  for (const char* p = text; *p; ++p) std::fputc(*p == '\r' ? '\n' : *p, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}
