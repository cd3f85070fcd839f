#pragma once

#include <cstdint>
#include <cstdio>

#include "patch/patch_target.h"

// A set of changes asked for by a front end other than the options dialog:
// each site is either left alone or set to a chosen value. The whole apply
// (scan, checks, backup, write, read-back) lives here so front ends only
// translate between the user and these records.

struct request_value {
    int32_t set;    // 0: leave the site as it is
    int32_t value;
};

struct patch_request {
    request_value start_year;    // 2000..29999
    request_value bosman_year;   // 2000..29999
    int32_t wc06;                // 1: write the World Cup 06 fix to match the start year
    request_value promoted;      // 1..7
    request_value relegated;     // 0..7
    int32_t conference_original; // 1: put the game's own conference code back
    request_value click_delay;   // 1..6, or CLICK_DELAY_OFF
    request_value exit_fix;      // 1 on, 0 off
    int32_t dry_run;             // 1: say what would be written, write nothing
    int32_t backup;              // 1: copy FILE to FILE.bak first, never over an old one
};

constexpr int32_t CLICK_DELAY_OFF = 0;
// From this start year on the World Cup 06 fix is installed.
constexpr int32_t WC06_FIRST_YEAR = 2003;

enum request_result : int {
    REQUEST_OK = 0,
    // Bad usage or values: found before the file is touched.
    REQUEST_NOTHING_REQUESTED,
    REQUEST_BAD_START_YEAR,
    REQUEST_BAD_BOSMAN_YEAR,
    REQUEST_WC06_NEEDS_START_YEAR,
    REQUEST_BAD_PROMOTED,
    REQUEST_BAD_RELEGATED,
    REQUEST_CONFERENCE_CONFLICT,
    REQUEST_BAD_CLICK_DELAY,
    REQUEST_BAD_EXIT_FIX,
    // The file's sites cannot take the request; nothing written.
    REQUEST_SITE_ABSENT,
    REQUEST_WC06_ORIGINAL_UNKNOWN,
    REQUEST_SITES_CLASH,
    // The file itself.
    REQUEST_OPEN_FAILED,
    REQUEST_EMPTY_FILE,
    REQUEST_BACKUP_EXISTS,
    REQUEST_BACKUP_FAILED,
    REQUEST_WRITE_OPEN_FAILED,
    REQUEST_WRITE_FAILED,
    REQUEST_WRITE_UNDONE,
    REQUEST_FILE_CHANGED,
    REQUEST_VERIFY_FAILED,
};

// What a result means for the user, and so for a front end's exit status.
enum result_kind : int {
    RESULT_KIND_OK,
    RESULT_KIND_USAGE,  // the request itself is wrong
    RESULT_KIND_SITE,   // a requested site is absent or cannot take the change
    RESULT_KIND_FILE,   // the file could not be read, written or checked
};

// A result, with the site it concerns (-1 when none).
struct request_outcome {
    int result;
    int site;
};

void patch_request_init(patch_request *r);
// REQUEST_OK, or the first bad value or combination.
int patch_request_check(const patch_request *r);

// Opens and scans `path`; on REQUEST_OK `*out` is the scanned target, for the
// caller to close. Diagnostics of the scan go to `scan_diagnostics`.
int scan_file(const char *path, patch_target **out);

// Copies `scanned` into `plan` and marks in it what the request writes:
// chosen values set, every other site's offset -1. `plan` borrows the path
// and handle of `scanned`: never close it. On failure `plan` is not to be
// written.
request_outcome patch_request_plan(const patch_request *r, const patch_target *scanned,
                                   patch_target *plan);
// One line per site that `plan` writes: where, and what it holds now and after.
void patch_request_describe(const patch_target *scanned, const patch_target *plan,
                            std::FILE *out);
// Checks a fresh scan taken after writing `plan`: each written site is where
// it was and reads back as planned.
request_outcome patch_request_verify(const patch_target *plan, const patch_target *after);

// Copies `path` to `path`.bak, never over an existing file. REQUEST_OK,
// REQUEST_BACKUP_EXISTS or REQUEST_BACKUP_FAILED (no partial backup left).
int backup_file(const char *path);

// The whole apply: check, scan, plan, describe to `report`, then (unless a dry
// run) backup, write, scan again and verify. Nothing is written unless every
// check before the write passes.
request_outcome patch_request_run(const char *path, const patch_request *r, std::FILE *report);

const char *request_result_message(int result);
result_kind request_result_kind(int result);
// The site's name as the user sees it in messages.
const char *site_label(int site);
// The state of a site in `t` in a few words ("year 2001", "installed",
// "delay 5", "promoted 1, relegated 3"), or "absent".
void site_state_words(const patch_target *t, int site, char *buf, std::size_t len);
