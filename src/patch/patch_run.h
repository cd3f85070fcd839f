#pragma once

#include "patch/patch_request.h"

// The one way both front ends reach the file: plan, guarded write, read-back.

// What a front end wants to hear on the way; any hook may be null.
struct patch_events {
    void *ctx;
    // The file was scanned (the first scan of a run, not the checks' own).
    void (*scanned)(void *ctx, const patch_target *t);
    // The plan stands and every check before writing has passed; called in a
    // dry run too, before anything is written. False stops the apply there.
    bool (*planned)(void *ctx, const patch_target *scanned, const patch_target *plan);
    // FILE.bak was made (`made` 1), or a verified one is kept (0).
    void (*backed_up)(void *ctx, int made);
};

// Opens and scans `path`, telling `events`; on RESULT_OK `*out` is the
// scanned target, for the caller to close. When the open fails, `*cause`
// (when given) says why.
patch_result scan_file(const char *path, patch_target **out, file_cause *cause = nullptr,
                       const patch_events *events = nullptr);

// The levels, from the top: patch_file (the whole run from a path),
// patch_scanned (the run on a scanned target: plan, guarded write,
// read-back), then the writer's check_before_write (the checks) and
// apply_patches (the writes).

// Writes what `r` asks for into the file that `scanned` was scanned from:
// plans (nothing is written unless every check passes), makes the backup
// when asked, writes through the writer's guards, scans again and checks
// that each written site is where it was and reads back as planned.
patch_outcome patch_scanned(const patch_request *r, const patch_target *scanned,
                            const patch_events *events);

// Checks a fresh scan taken after writing `plan`.
patch_outcome patch_verify(const patch_target *plan, const patch_target *after);

// The whole apply from a path: check, scan, then patch_scanned.
patch_outcome patch_file(const char *path, const patch_request *r, const patch_events *events);
