// Included ahead of every source of the Windows test build: the few POSIX
// calls that platform-free tests use to arrange files, under their POSIX
// signatures.
#pragma once

#ifdef __cplusplus
#include <direct.h>
#include <io.h>

#include <cstring>

/// Windows folders have no POSIX mode bits; the mode is ignored.
inline int mkdir(const char* path, int /*mode*/) { return _mkdir(path); }

/// Replaces the trailing XXXXXX of `pattern` and creates that folder; the
/// pattern on failure. Tries new names while a name is taken.
inline char* mkdtemp(char* pattern) {
  const size_t length = std::strlen(pattern);
  if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::memcpy(pattern + length - 6, "XXXXXX", 6);
    if (_mktemp_s(pattern, length + 1) != 0) return nullptr;
    if (_mkdir(pattern) == 0) return pattern;
  }
  return nullptr;
}
#endif
