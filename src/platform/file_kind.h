// What a name in the file system stands for, for a program that replaces a
// file by name. One implementation file per OS.
#pragma once

/// What `path` names, links followed: 0 nothing, 1 a regular file, 2
/// anything else (a folder, a device, a FIFO).
int platform_path_kind(const char* path);

/// True when `a` and `b` name one existing file (links followed).
bool platform_same_file(const char* a, const char* b);
