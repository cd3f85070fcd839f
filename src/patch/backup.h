#pragma once

#include <cstdio>

#include "patch/folder_io.h"
#include "patch/patch_target.h"
#include "patch/results.h"

// FILE.bak: a copy of the game as it was before the patcher first wrote it,
// made by the run that first asked for one and kept by every run after.

constexpr char BACKUP_SUFFIX[] = ".bak";
// The copy's name until it is whole and on the disk.
constexpr char BACKUP_PARTIAL_SUFFIX[] = ".bak.partial";

// The backup of one run, from the first check to the name on the disk.
struct backup_job {
    held_folder *folder;
    std::FILE *copy;  // the new copy while it has its temporary name
    int kept;         // 1: a verified FILE.bak was there and stays as it is
    int made;         // 1: this run's copy has the name FILE.bak
};

// Holds the scanned file's folder and looks at FILE.bak: a verified backup
// is kept; where none is, the whole copy is read from the scanned handle and
// put on the disk under its temporary name. Every refusal of the backup
// comes from here, before anything is promised or written: RESULT_OK, or
// RESULT_BACKUP_UNVERIFIED, RESULT_BACKUP_FAILED, RESULT_FILE_CHANGED.
// backup_release always follows.
patch_outcome backup_prepare(const patch_target *scanned, backup_job *b);
// Gives a new copy the name FILE.bak, never over anything; `made` tells
// whether it took the name, even when the run must stop there.
patch_outcome backup_commit(backup_job *b);
// Removes a copy that never took its name, and lets the folder go.
void backup_release(backup_job *b);

// "PATH.bak", for the caller to free; null when memory is short.
char *backup_path_of(const char *path);

// Whether `bak` holds the scanned file's bytes, everywhere or, with
// `but_sites`, everywhere but in the sites the scan recognised; -1 when
// either cannot be read.
int backup_same_bytes(const patch_target *scanned, std::FILE *bak, bool but_sites);

// What has the name FILE.bak beside the scanned file, for the scan to say.
enum backup_beside : int { BACKUP_NONE, BACKUP_VERIFIED, BACKUP_NOT_VERIFIED };
backup_beside backup_beside_of(const patch_target *scanned);

// Whether `bak` is a backup of the file `scanned` was scanned from: the same
// length, the same bytes outside the patch sites, and every site the scan
// recognised found at the same place in `bak` too. `bak_path` names it for
// the backup's own scan, which must read the very file `bak` has open.
// RESULT_OK, RESULT_BACKUP_UNVERIFIED (with the site where they differ, or
// -1), or RESULT_READ_FAILED. On RESULT_OK, `*bak_scan` (when given) is the
// backup's own scan, for the caller to close.
patch_outcome backup_verify(const patch_target *scanned, std::FILE *bak, const char *bak_path,
                            patch_target **bak_scan = nullptr);
