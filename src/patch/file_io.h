#pragma once

#include <cstdint>
#include <cstdio>

// Every file operation of the core that is more than one stdio call.

// Flushes and closes a handle; returns -1 when either fails (a missing
// handle counts as a failure and is left alone), else 0.
int close_file(std::FILE *f);

// Flushes a handle and has the system put its file's bytes on the disk; -1
// when either fails, else 0.
int sync_file(std::FILE *f);

// Length of the regular file behind a handle, or -1 when it is not a
// regular file (a directory, a device) or its length cannot be had.
int64_t file_length(std::FILE *f);

// Whether `path` names a regular file, checked without opening it (opening a
// FIFO blocks).
bool is_regular_path(const char *path);

// A handle that swallows output; null when there is none.
std::FILE *open_null_sink();

enum backup_result : int { BACKUP_MADE, BACKUP_EXISTS, BACKUP_FAILED };

// Copies `path` to `path`.bak, never over an existing file; a copy that
// fails part-way is removed.
backup_result backup_file(const char *path);
