#pragma once

#include <cstdint>

// The seven patch sites of the ZANDOR executable, in the order the scan
// searches them.
enum site_id : int {
    SITE_START_YEAR,
    SITE_WC06_FIX,
    SITE_BOSMAN_YEAR,
    SITE_CLICK_DELAY,
    SITE_EXITGAME,
    SITE_CONF_COUNTS,
    SITE_CONF_PROMOTED,
    SITE_COUNT
};

// A year site holds a 16-bit year; a block site one of two blocks of code;
// the two conference blocks are blocks taken only as a pair.
enum site_kind : int { SITE_KIND_YEAR, SITE_KIND_BLOCK, SITE_KIND_PAIR };

struct patch_target;

// A byte of our block that carries a chosen value, and the record's field
// that holds it.
struct site_param {
    int32_t pos;
    int8_t patch_target::*field;
};

constexpr int MAX_PARAMS = 2;

// Everything the scan, the writer and the front ends know of one site.
struct site_entry {
    const char *name;
    site_kind kind;
    int32_t sig_len;
    const uint8_t *sig;
    int32_t block_len;          // 2 for a year site
    const uint8_t *unpatched;   // the game's code; null for a year site
    int32_t unpatched_known;    // leading bytes of `unpatched` that are known
    const uint8_t *patched;     // our replacement; null for a year site
    // The site in the record: its offset; its year, or whether the scan
    // found our block; the parameters of our block. With the names of the
    // offset and of the site's own value (none for the conference pair,
    // whose counts are the pair's).
    int32_t patch_target::*ofs;
    const char *ofs_field;
    int16_t patch_target::*year;
    int32_t patch_target::*installed;
    const char *value_field;
    site_param params[MAX_PARAMS];
    int32_t param_count;
    const char *label;          // the site as messages name it
};

extern const site_entry (&patch_catalogue)[SITE_COUNT];

// Whether byte `pos` of the site's patched block carries a chosen value.
bool site_is_parameter(int site, int32_t pos);

constexpr int32_t WC06_BLOCK_LEN = 110;
constexpr int32_t MAX_BLOCK_LEN = 110;
constexpr int32_t MAX_SIG_LEN = 65;
