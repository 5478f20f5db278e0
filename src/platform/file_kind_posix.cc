#include <sys/stat.h>

#include "platform/file_kind.h"

int platform_path_kind(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0) return 0;
  return S_ISREG(info.st_mode) ? 1 : 2;
}

bool platform_same_file(const char* a, const char* b) {
  struct stat sa {
  }, sb{};
  if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
