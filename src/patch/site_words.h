#pragma once

#include <cstddef>
#include <cstdio>

#include "patch/patch_target.h"

// How the front ends name sites and their states.

// The site's name as the user sees it in messages; "file" for none.
const char *site_label(int site);
// Why the scan found a site absent (a site_absence), in a few words, and as
// a short code for machine-readable output ("not_found", "cut_off"...).
const char *absence_words(int why);
const char *absence_code(int why);
// The state of a site in `t` in a few words ("year 2001", "installed",
// "delay 5", "promoted 1, relegated 3"), or why it is absent.
void site_state_words(const patch_target *t, int site, char *buf, std::size_t len);
// A present block whose bytes beyond byte 0 are not all of the variant it
// is taken for: a write cut off inside it.
bool site_damaged(const patch_target *t, int site);
// A site that a plan writes: where, what it holds now and after, and whether
// any of its bytes change.
struct plan_line {
    int site;
    int32_t ofs;
    char before[96];
    char after[96];
    bool change;
};

// The sites that `plan` writes, in site order; returns how many.
int plan_lines(const patch_target *scanned, const patch_target *plan, plan_line out[SITE_COUNT]);
// One line per site that `plan` writes: where, and what it holds now and after.
void print_plan(const patch_target *scanned, const patch_target *plan, std::FILE *out);
// The scan's notes on the exitgame site, when it is absent: where its
// signature was found (-1: nowhere), or the first byte of the code found
// after it.
void print_scan_notes(std::FILE *out, const patch_target *t);
