#pragma once

#include <cstdint>
#include <cstdio>

#include "patch/site_words.h"
#include "patch/results.h"

// apply --json: one JSON object, given out in two parts so that the file is
// written only once the first part, the plan, has reached standard output.
struct apply_json {
    const char *file;
    int dry_run;
    int backup_made;
    int64_t size;  // -1 until the plan stands (null in the output)
    int planned;   // sites in `lines`
    plan_line lines[SITE_COUNT];
    bool begun;    // the first part is out
};

void apply_json_init(apply_json *r, const char *file, int dry_run);
// The first part: the file, this tool's version, and each planned site with
// its state now and after.
void apply_json_plan(apply_json *r, const patch_target *scanned, const patch_target *plan, std::FILE *out);
// The rest, first part included when no plan was reached: whether each site
// was written, the result with its `message` and the exit status.
void apply_json_end(apply_json *r, const patch_outcome &o, const char *message, int exit_status,
                      std::FILE *out);
