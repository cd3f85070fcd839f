#pragma once

#include <cstdio>

#include "patch/patch_target.h"

// The scan command's two forms of output for a scanned target. Both return
// 0, or -1 when writing to `out` failed.
int print_scan_table(std::FILE *out, const char *file, const patch_target *t);
int print_scan_json(std::FILE *out, const patch_target *t);
