#pragma once

#include "patch/patch_target.h"

// Result of apply_patches; apply_result_message turns each into a sentence.
enum apply_result : int {
    APPLY_OK = 0,
    APPLY_OPEN_FAILED = -1,   // nothing written
    APPLY_WRITE_FAILED = -2,  // a seek, write, flush or close failed and the file
                              // could not be put back: it may be partly changed
    APPLY_FILE_CHANGED = -3,  // the file is no longer what was scanned; nothing written
    APPLY_WRITE_UNDONE = -4,  // a write failed; what was written was put back
    APPLY_SITES_CLASH = -5,   // the writes would move, make or break a site; nothing written
    APPLY_WC06_KEPT = 1,      // all written, but the installed World Cup 06 fix
                              // stays: the game's original bytes are unknown
};

// Writes every site whose offset is > 0, as the target's values say.
int apply_patches(const patch_target *t);
const char *apply_result_message(int result);
