#include <windows.h>

#include "platform/file_kind.h"

namespace {

// Opened for its attributes only, folders included; links followed.
HANDLE open_for_info(const char* path) {
  return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

int platform_path_kind(const char* path) {
  HANDLE file = open_for_info(path);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : 2;
  BY_HANDLE_FILE_INFORMATION info{};
  bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                 !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  CloseHandle(file);
  return regular ? 1 : 2;
}

bool platform_same_file(const char* a, const char* b) {
  HANDLE first = open_for_info(a);
  if (first == INVALID_HANDLE_VALUE) return false;
  HANDLE second = open_for_info(b);
  bool same = false;
  if (second != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    same = GetFileInformationByHandle(first, &x) && GetFileInformationByHandle(second, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
    CloseHandle(second);
  }
  CloseHandle(first);
  return same;
}
