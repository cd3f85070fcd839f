#pragma once

#include "patch/patch_run.h"

// Puts a verified backup of `path` back: each site the file has takes the
// state the backup's holds, by the one write path (plan, guarded write,
// read-back), and the file must then equal the backup byte for byte. The
// backup (`backup_path`; FILE.bak when null) is never changed. RESULT_OK,
// RESULT_BACKUP_MISMATCH (a backup of another file, or one this patcher
// cannot write back exactly), RESULT_BACKUP_UNREADABLE, or any result of the
// write path. With `dry_run`, the same refusals and nothing written.
patch_outcome restore_file(const char *path, const char *backup_path, int dry_run, const patch_events *events);
