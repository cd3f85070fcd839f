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

enum site_kind : int { SITE_KIND_YEAR, SITE_KIND_BLOCK };

struct site_entry {
    const char *name;
    site_kind kind;
    int32_t sig_len;
    const uint8_t *sig;
    int32_t block_len;          // 2 for a year site
    const uint8_t *unpatched;   // the game's code; null for a year site
    int32_t unpatched_known;    // leading bytes of `unpatched` that are known
    const uint8_t *patched;     // our replacement; null for a year site
};

extern const site_entry (&patch_catalogue)[SITE_COUNT];

// Byte positions inside patched blocks that carry a chosen value.
constexpr int32_t CLICK_DELAY_PARAM_POS = 25;
constexpr int32_t CONF_PROMOTED_PARAM_POS = 9;
constexpr int32_t CONF_COUNTS_PROMOTED_POS = 6;
constexpr int32_t CONF_COUNTS_RELEGATED_POS = 9;

constexpr int32_t WC06_BLOCK_LEN = 110;
constexpr int32_t MAX_BLOCK_LEN = 110;
constexpr int32_t MAX_SIG_LEN = 65;
