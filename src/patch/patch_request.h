#pragma once

#include <cstdint>

#include "patch/patch_target.h"
#include "patch/results.h"

// A set of changes a front end asks for: each site is either left alone or
// set to a chosen value.

struct request_value {
    int32_t set;    // 0: leave the site as it is
    int32_t value;
};

struct patch_request {
    request_value start_year;    // YEAR_MIN..YEAR_MAX
    request_value bosman_year;   // YEAR_MIN..YEAR_MAX
    int32_t wc06;                // a wc06_mode
    request_value promoted;      // PROMOTED_MIN..PROMOTED_MAX
    request_value relegated;     // RELEGATED_MIN..RELEGATED_MAX
    int32_t conference_original; // 1: put the game's own conference code back
    request_value click_delay;   // CLICK_DELAY_MIN..CLICK_DELAY_MAX, or CLICK_DELAY_OFF
    request_value exitgame;      // 1 on, 0 off
    int32_t dry_run;             // 1: plan and report, write nothing
    int32_t backup;              // a backup_mode
};

enum backup_mode : int32_t {
    BACKUP_OFF,
    BACKUP_ON,  // copy FILE to FILE.bak first unless a verified backup is
                // there, which then stays: the first is of the game as it came
};

// The World Cup 06 fix follows the start year: installed from
// WC06_FIRST_YEAR on, the game's own block before it. That block is known
// only when the scan saw it in the file.
enum wc06_mode : int32_t {
    WC06_LEAVE,
    WC06_FOLLOW,          // refuse when the game's block is needed but unknown
    WC06_FOLLOW_OR_KEEP,  // then keep the installed fix and write the rest
};

constexpr int32_t CLICK_DELAY_OFF = 0;

void patch_request_init(patch_request *r);
// Whether the request names no site at all.
bool patch_request_empty(const patch_request *r);
// RESULT_OK, or the first bad value or combination.
patch_result patch_request_check(const patch_request *r);

// Copies `scanned` into `plan` and marks in it what the request writes:
// chosen values set, each as the file will hold it (wc06_installed as the
// start year has it, the conference blocks as a pair), every other site's
// offset -1. `plan` borrows the path
// and handle of `scanned`: never close it. RESULT_OK, or RESULT_WC06_KEPT
// when the plan keeps the installed World Cup 06 fix (WC06_FOLLOW_OR_KEEP);
// on failure `plan` is not to be written.
patch_outcome patch_request_plan(const patch_request *r, const patch_target *scanned,
                                 patch_target *plan);
