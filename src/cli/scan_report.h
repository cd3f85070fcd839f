#pragma once

#include <cstdio>

#include "patch/patch_target.h"

// The scan command's two forms of output for a scanned target. Whether they
// reached `out` is for the caller to check.
void print_scan_table(std::FILE *out, const char *file, const patch_target *t);
// One JSON object: the record's fields, then `file`, its size, this tool's
// version and why each absent site is absent.
void print_scan_json(std::FILE *out, const char *file, const patch_target *t);

// `s` as a JSON string, quoted; bytes from 0x80 up pass as they are (UTF-8).
void print_json_string(std::FILE *out, const char *s);
