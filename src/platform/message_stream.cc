#include "platform/message_stream.h"

#include <cstdio>

void write_message_to_stderr(const char* caption, const char* text) {
  std::fflush(stdout);
  std::fputs(caption, stderr);
  std::fputc('\n', stderr);
  for (const char* p = text; *p; ++p) std::fputc(*p == '\r' ? '\n' : *p, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}
