#pragma once

#include <cstdio>

#include "patch/results.h"

// The folder of the file a run works on, opened once and held while the
// backup is checked, made and named. Every name looked at, made or removed
// is taken relative to that handle, so re-pointing a folder of the path
// (a link, a junction) after the scan moves nothing of ours elsewhere; and
// on Windows the held folder cannot be renamed away meanwhile.
struct held_folder;

// Opens the folder of `path` and checks that the name in it is the very file
// `same_as` has open, without following a link, and its only name: null, and
// why in `*cause` (CAUSE_CHANGED when the name is now another file,
// CAUSE_HARD_LINKED when the file has another name, which may be in a folder
// anyone can read).
held_folder *held_folder_open(const char *path, std::FILE *same_as, file_cause *cause);
void held_folder_close(held_folder *d);

// The file's name with `suffix`, for messages: "C:\Games\ZANDOR.EXE.bak".
// Null when memory is short; the caller frees it.
char *held_folder_name(const held_folder *d, const char *suffix);

// Opens the file's name with `suffix` in the folder for reading, binary,
// without following a link and without blocking. Null with CAUSE_MISSING
// when nothing has the name, CAUSE_BACKUP_NOT_REGULAR when a link, a folder
// or a device has it, else the system's cause.
std::FILE *held_folder_read(const held_folder *d, const char *suffix, file_cause *cause);

// Clears the file's name with `suffix` of what a run of ours left there, a
// plain file with one link or a second name of `kept_suffix`'s file. True
// when nothing has the name now; false, and why, when something else has it
// (CAUSE_BACKUP_NOT_REGULAR, or CAUSE_BACKUP_HELD when another program holds
// it) or it cannot go.
bool held_folder_clear(const held_folder *d, const char *suffix, const char *kept_suffix, file_cause *cause);

// Makes a new file under the file's name with `suffix`, never opening what
// is there, for writing, binary, that no other program may open meanwhile
// where the system allows.
std::FILE *held_folder_create(const held_folder *d, const char *suffix, file_cause *cause);

// Gives `made` (from held_folder_create under `from`) the name with `to`,
// never over anything, and puts the name on the disk. False, and why in
// `*cause`, when it did not take the name; `*on_disk` false, and why, when
// it took the name but the name may not be on the disk yet.
bool held_folder_rename(const held_folder *d, std::FILE *made, const char *from, const char *to, bool *on_disk,
                        file_cause *cause);

// Removes `made` from under the name with `suffix`, only while that name is
// still the very file; nothing when it has been renamed.
void held_folder_remove(const held_folder *d, std::FILE *made, const char *suffix);
