#pragma once

#include <cstdint>

#include "patch/patch_request.h"

// The options dialog's logic without a window: what each control shows after
// the scan, and what OK asks for from the controls' values.

enum options_pair : int { PAIR_START_YEAR, PAIR_BOSMAN, PAIR_PROMOTED, PAIR_RELEGATED, PAIR_CLICK_DELAY, PAIR_COUNT };
enum options_check : int {
    CHECK_EXITGAME,
    CHECK_WC06,
    CHECK_LEAVE_YEARS,
    CHECK_KEEP_CONFERENCE,
    CHECK_NO_CLICK_DELAY,
    CHECK_COUNT
};

struct updown_pair {
    int updown;
    int edit;
    int min;
    int max;
};

// In the order they are set up.
extern const updown_pair options_pairs[PAIR_COUNT];
extern const int options_check_ids[CHECK_COUNT];

// What the controls hold: each up-down's position as its low word, each
// check box's state as BM_GETCHECK gives it.
struct options_values {
    int32_t position[PAIR_COUNT];
    int32_t check[CHECK_COUNT];
};

// The controls' state right after the scan; the check boxes that the scan
// does not set start unchecked.
options_values options_initial(const patch_target *t);

// What OK asks to write. A site that is absent, left alone by its check box,
// or given a value it cannot take is not asked for. `*wc06_kept` becomes 1
// when the World Cup 06 fix stays although the start year asks it out: the
// game's own code for it is not known.
patch_request options_request(const options_values *v, const patch_target *t, int32_t *wc06_kept);

// OK: writes what the values ask for through the shared path (plan, guarded
// write, read-back). RESULT_OK also when there is nothing to write.
patch_outcome options_apply(const options_values *v, const patch_target *t, int32_t *wc06_kept);
