#pragma once

#include "patch/patch_target.h"
#include "patch/results.h"

// After a failed write, from the bytes read back: the sites (a bit per
// site_id) that do not hold their old bytes, those of them that hold the new
// ones whole, those that could not be read, whether the two conference
// blocks may hold a pair that no state on the way held (which the scan may
// not recognise), and what the system said about the open or the write that
// failed.
struct write_report {
    int unrestored;
    int whole_new;
    int unread;
    bool pair_may_differ;
    file_cause cause;
};

// Writes every site whose offset is > 0, as the target's values say, after
// checking that the file is still the one scanned: `t` is a scan, or a plan
// copied from one, and each site it writes must be one the scan offered and
// still hold the bytes the scan read there. RESULT_OK, or the writer's
// failures: RESULT_WRITE_OPEN_FAILED, RESULT_FILE_CHANGED, RESULT_READ_FAILED
// and RESULT_SITES_CLASH with nothing written, RESULT_WRITE_UNDONE,
// RESULT_WRITE_FAILED; `report`, when given, tells what a failed write left
// behind.
patch_result apply_patches(const patch_target *t, write_report *report = nullptr);

// The bytes the writes that `t` asks for leave at a site, in `out`; false
// when they leave none there.
bool planned_site_bytes(const patch_target *t, int site, uint8_t out[MAX_BLOCK_LEN]);

// The sites (a bit per site_id) whose bytes the writes that `t` asks for
// change from those the scan read.
int planned_changes(const patch_target *t);

// The writer's checks without writing: RESULT_OK when apply_patches would
// write, else RESULT_FILE_CHANGED, RESULT_READ_FAILED or RESULT_SITES_CLASH.
patch_result check_before_write(const patch_target *t);
