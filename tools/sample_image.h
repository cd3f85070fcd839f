#pragma once

#include <cstdint>

#include "patch/catalogue.h"

// Synthetic game images for tests and demos: filler that holds no signature,
// with each chosen site's signature followed by its block in a chosen state.
enum sample_state : int {
    SAMPLE_ABSENT,        // signature not in the file
    SAMPLE_GAME,          // the game's own code (a year site: the year in `param`)
    SAMPLE_PATCHED,       // our patched block with the given parameters
                          // (a year site: as SAMPLE_GAME)
    SAMPLE_UNRECOGNISED,  // signature, then a block whose byte 0 is `first_byte`
                          // (block sites only)
    SAMPLE_DUPLICATED,    // signature and game's block twice (second at `at2`)
    SAMPLE_TRUNCATED,     // signature so close to the end that its block is cut off
};

struct sample_site {
    sample_state state;
    int64_t at;          // offset of the signature's first byte; -1: the maker picks
    int64_t at2;         // second copy for SAMPLE_DUPLICATED; -1: the maker picks
    int32_t param;       // year (year sites), delay byte (click_delay),
                         // promoted byte (conf_counts pos 6, conf_promoted pos 9)
    int32_t param2;      // relegated byte (conf_counts pos 9)
    uint8_t first_byte;  // byte 0 of the block for SAMPLE_UNRECOGNISED
};

struct sample_recipe {
    int64_t size;        // file length in bytes
    uint32_t seed;       // random filler
    const uint8_t *filler;  // not null: these filler_len bytes, repeated, are
    int64_t filler_len;     // the filler instead (borrowed)
    sample_site site[SITE_COUNT];
};

// Every site in the game's state at a place the maker picks, over random
// filler; start year 2001, Bosman year 2002; patched parameters delay 5,
// promoted 1, relegated 3.
void sample_defaults(sample_recipe *recipe, int64_t size);
// Resolves every offset the maker picks (at, and at2 for a duplicated site)
// into `placed`, exactly as sample_write lays them out. 0, or -1 when the recipe
// cannot be laid out (overlap, outside the file, a state the site lacks).
int sample_layout(const sample_recipe *recipe, sample_recipe *placed);
// 0 on success, -1 when the recipe cannot be laid out or the file cannot be written.
int sample_write(const char *path, const sample_recipe *recipe);
// The 46 bytes the maker puts at positions 64..109 of the game's wc06_fix block.
const uint8_t *sample_wc06_tail();
