#pragma once

#include <cstdint>
#include <cstdio>

// Length of the regular file behind a handle, or -1 when it is not a
// regular file (a directory, a device) or its length cannot be had.
int64_t file_length(std::FILE *f);

// Whether `path` names a regular file, checked without opening it (opening a
// FIFO blocks).
bool is_regular_path(const char *path);
