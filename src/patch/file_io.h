#pragma once

#include <cstdint>
#include <cstdio>

#include "patch/results.h"

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

// Opens a regular file for reading, binary; null, and in `*cause` why, when
// it cannot.
std::FILE *open_for_read(const char *path, file_cause *cause);

// Opens `path` for reading, binary, without ever blocking (a FIFO put in its
// place), only when it is a regular file and, with `same_as` given, the very
// file that handle has open (device and inode; on Windows the volume and file
// index); else null.
std::FILE *open_same_file(const char *path, std::FILE *same_as);

// Opens a regular file for update, binary, unbuffered; null, and in `*cause`
// why, when it cannot. While the handle is open no other copy of the patcher
// may open the file so (an exclusive lock on Linux), and on Windows no other
// program may write it: another holder makes the open fail ("in use").
std::FILE *open_for_update(const char *path, file_cause *cause);

// Whether two handles are open on the very same file (device and inode; on
// Windows the volume and file index).
bool same_file(std::FILE *a, std::FILE *b);

// Forgets the last error, so that error_cause tells of the next failed call.
void error_clear();

// The cause of the last failed call, from the error the system reported.
file_cause error_cause();
