#pragma once

#include <cstdint>
#include <cstdio>

#include "patch/backup.h"
#include "patch/patch_target.h"

// The scan command's two forms of output for a scanned target. Whether they
// reached `out` is for the caller to check.
void print_scan_table(std::FILE *out, const char *file, const patch_target *t);
// One JSON object: the record's fields, then `file`, its size, this tool's
// version, why each absent site is absent, which present ones are damaged,
// and what FILE.bak beside it is.
void print_scan_json(std::FILE *out, const char *file, const patch_target *t, backup_beside bak);

// `s` as a JSON string, quoted: UTF-8 passes as it is, a byte that is no
// part of UTF-8 goes as the \u escape of that byte read as Latin-1.
void print_json_string(std::FILE *out, const char *s);
// The "size" member, after a comma: null when the length is not known.
void print_json_size(std::FILE *out, int64_t size);
