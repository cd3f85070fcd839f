#pragma once

// Shared by the fuzz harnesses: a reader over the fuzzer's bytes, a
// structured image builder that plants signatures where windows meet, and
// plain reference versions of the search, the scan and the writer that the
// core is checked against.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "patch/patch_target.h"

using bytes = std::vector<uint8_t>;

// Aborts (so the fuzzer records the input) with the caller's line.
#define FUZZ_CHECK(cond, ...)                                      \
    do {                                                           \
        if (!(cond))                                               \
            fuzz_fail(#cond, __FILE__, __LINE__, "" __VA_ARGS__); \
    } while (0)
[[noreturn]] void fuzz_fail(const char *cond, const char *file, int line, const char *what);

// Reads the fuzzer's bytes front to back; 0 once they run out.
struct fuzz_input {
    const uint8_t *data;
    std::size_t size;
    std::size_t pos;
};

uint8_t take_u8(fuzz_input *in);
uint32_t take_u16(fuzz_input *in);
uint32_t take_u24(fuzz_input *in);
uint32_t take_u32(fuzz_input *in);
std::size_t input_left(const fuzz_input *in);

// A file image: either the rest of the input as it is, or a structured
// description (size near a window edge, filler, then sites, signatures and
// signature fragments planted at window edges, at the end of the file or
// next to each other).
bytes build_image(fuzz_input *in);

// A scratch file of this process under /dev/shm (or $TMPDIR), overwritten
// with `data`; its path. `slot` tells apart several files of one process.
const char *write_scratch(const bytes &data, int slot);
bytes read_whole(const char *path);

// Every start at which `sig` lies wholly within the first 2 GiB - 1 bytes.
std::vector<int64_t> reference_search(const bytes &image, const uint8_t *sig, std::size_t len);

// What a scan of `image` must give.
struct scan_result {
    int32_t start_year_ofs, wc06_ofs, bosman_year_ofs, click_delay_ofs, exitgame_ofs;
    int32_t conf_counts_ofs, conf_promoted_ofs;
    int32_t start_year, bosman_year, click_delay, wc06_installed, exitgame_installed;
    int32_t promoted, relegated, touch_conference;
    int32_t wc06_original_known;
    bytes wc06_original;
    std::string diagnostics;
};

scan_result reference_scan(const bytes &image);
// The same fields as the core filled them in; `diagnostics` as captured.
scan_result scan_of(const patch_target *t, const std::string &diagnostics);
// Opens and scans `path` with the diagnostics captured; null when the core
// would not open it.
patch_target *scan_path(const char *path, std::string *diagnostics);
void expect_same_scan(const scan_result &got, const scan_result &want);

// One write the writer must make.
struct model_write {
    site_id site;
    int32_t ofs;
    bytes data;
};

struct writer_model {
    std::vector<model_write> writes;
    bool wc06_kept;
};

// The writes `t` asks for, from the writing rules alone.
writer_model model_writes(const patch_target *t);
