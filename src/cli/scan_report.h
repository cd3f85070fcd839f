#pragma once

#include <cstdio>

#include "patch/patch_target.h"

// The scan command's two forms of output for a scanned target. Whether they
// reached `out` is for the caller to check.
void print_scan_table(std::FILE *out, const char *file, const patch_target *t);
void print_scan_json(std::FILE *out, const patch_target *t);
