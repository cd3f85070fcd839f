#pragma once

#include <cstddef>
#include <cstdio>

#include "patch/patch_target.h"

// How the command line names sites and their states.

// The site's name as the user sees it in messages; "file" for none.
const char *site_label(int site);
// Why the scan found a site absent (a site_absence), in a few words.
const char *absence_words(int why);
// The state of a site in `t` in a few words ("year 2001", "installed",
// "delay 5", "promoted 1, relegated 3"), or why it is absent.
void site_state_words(const patch_target *t, int site, char *buf, std::size_t len);
// One line per site that `plan` writes: where, and what it holds now and after.
void print_plan(const patch_target *scanned, const patch_target *plan, std::FILE *out);
