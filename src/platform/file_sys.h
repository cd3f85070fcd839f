#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The calls of the core's files and folders that differ between systems,
// each answering in the same terms on every system, so that what the core
// checks, and in which order, is written once. One source per system,
// chosen by CMake: file_sys_posix.cpp and file_sys_win32.cpp. A call that
// fails leaves its error where sys_error and errno tell it.

// A handle on an open file or folder: a descriptor on POSIX, a HANDLE on
// Windows.
using sys_handle = std::intptr_t;

// Forgets the error that the system keeps beside errno (Windows' own code).
void sys_error_clear();

// The last failed call's error where errno alone does not tell it, as the
// errno value that does (a sharing violation, which errno calls EACCES, is
// EBUSY); else 0, and errno tells.
int sys_error();

// What the core needs of a file's status.
struct sys_file_stat {
    bool regular;  // not a folder, a device or a pipe
    int64_t size;
};

// 0, or -1 when the status cannot be had.
int sys_stat_path(const char *path, sys_file_stat *out);
int sys_stat_file(std::FILE *f, sys_file_stat *out);

// Opens a regular file for reading, binary; null when it cannot. On POSIX
// it never blocks (a FIFO would wait for a writer) and anything but a
// regular file is refused with EISDIR.
std::FILE *sys_open_read(const char *path);

// Opens a regular file for update, binary, that no other copy of the
// patcher may so open while the handle is (an exclusive lock on POSIX, and
// then EBUSY when another holds it) and, on Windows, no other program may
// write; null when it cannot.
std::FILE *sys_open_update(const char *path);

// Has the system put a flushed handle's bytes on the disk: 0, or -1.
int sys_commit(std::FILE *f);

sys_handle sys_handle_of(std::FILE *f);

// Whether two handles are open on the very same file (device and inode; on
// Windows the volume and file index).
bool sys_same_file(sys_handle a, sys_handle b);

// Whether `c` ends a folder's name in a path.
bool sys_path_separator(char c);

// Whether the first `leaf` characters of `path`, up to its last name, name
// a drive ("C:" or "C:\") and so keep their last one as the folder's name.
bool sys_drive_folder(const char *path, std::size_t leaf);

// Holds the folder `path` open for names to be taken relative to it (on
// Windows, not to be renamed away meanwhile); false when it cannot.
bool sys_folder_hold(const char *path, sys_handle *dir);

// Lets a held folder go; nothing for a handle left zero or failed.
void sys_folder_release(sys_handle dir);

// What a name in a held folder is opened for. Never through a link, never
// waiting (a FIFO would wait for a writer).
// SYS_FOR_REMOVE: looked at, then removed with sys_remove; on Windows
// shared with no one meanwhile. SYS_FOR_CREATE: a new file for writing,
// never what has the name; on Windows shared with no one, and written
// through, so that each rename of it is on the disk when it returns.
enum sys_open_for : int {
    SYS_FOR_READ,
    SYS_FOR_REMOVE,
    SYS_FOR_CREATE,
};

enum sys_opened : int {
    SYS_OPENED,
    SYS_NO_NAME,    // nothing has the name
    SYS_NOT_PLAIN,  // a link or a folder has it, told here where the system tells at the open (else by
                    // sys_plain); on Windows, for SYS_FOR_CREATE, anything has it
    SYS_HELD,       // another program holds what has it (Windows)
    SYS_FAILED,     // sys_error and errno tell why
};

// Opens `name`, a name in the held folder `dir` (null when memory was
// short), for `how`, into `*h`.
sys_opened sys_open_in(sys_handle dir, const char *name, sys_open_for how, sys_handle *h);

// Whether a handle is open on a plain file on a disk (not a link, a
// folder, a device or a pipe), and how many names that file has.
bool sys_plain(sys_handle h, unsigned *links);

// Has reads on a handle from sys_open_in wait for the bytes again (POSIX);
// false when it cannot.
bool sys_blocking(sys_handle h);

// A stream over a handle from sys_open_in for reading or creating, which
// takes the handle over; null, and the handle closed, when there is none.
std::FILE *sys_stream(sys_handle h, sys_open_for how);

void sys_close(sys_handle h);

// Whether `name` in the held folder `dir` is, itself and not through a
// link, the file `h` has open.
bool sys_names(sys_handle dir, const char *name, sys_handle h);

// Removes the file `h` has open from under `name` in the held folder `dir`:
// by the handle on Windows; on POSIX by the name, only while it is still
// that file.
bool sys_remove(sys_handle dir, const char *name, sys_handle h);

// Gives the file `made` has open, from sys_open_in for creating under
// `from`, the name `to` in the held folder `dir`, never over anything: by
// the handle on Windows; on POSIX by the name, only while it is still that
// file, and true only when `to` then is.
bool sys_rename(sys_handle dir, std::FILE *made, const char *from, const char *to);

// Puts the held folder's names on the disk (on Windows a rename of a file
// made for SYS_FOR_CREATE is there already); false when it cannot.
bool sys_folder_sync(sys_handle dir);
