#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "dialog/options_ids.h"
#include "patch/patch_request.h"
#include "patch/rules.h"
#include "patch/site_words.h"

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
    const char *label;  // the field's name beside it
    const char *holds;  // what is typed into it
    int site;           // whose site it writes
    int param;          // which parameter of that site's block it sets (not a year's)
    options_check skip; // the check box that leaves that site alone
};

// In the order they are set up.
inline constexpr updown_pair options_pairs[] = {
    {ID_START_YEAR_UPDOWN, ID_START_YEAR_EDIT, OFFERED_START_YEAR_MIN, OFFERED_START_YEAR_MAX, "Game starts",
     "a year", SITE_START_YEAR, 0, CHECK_LEAVE_YEARS},
    {ID_BOSMAN_UPDOWN, ID_BOSMAN_EDIT, OFFERED_BOSMAN_YEAR_MIN, OFFERED_BOSMAN_YEAR_MAX, "Bosman ruling", "a year",
     SITE_BOSMAN_YEAR, 0, CHECK_LEAVE_YEARS},
    {ID_PROMOTED_UPDOWN, ID_PROMOTED_EDIT, PROMOTED_MIN, PROMOTED_MAX, "Nof promoted", "a number",
     SITE_CONF_COUNTS, 0, CHECK_KEEP_CONFERENCE},
    {ID_RELEGATED_UPDOWN, ID_RELEGATED_EDIT, RELEGATED_MIN, RELEGATED_MAX, "Nof relegated", "a number",
     SITE_CONF_COUNTS, 1, CHECK_KEEP_CONFERENCE},
    {ID_CLICK_DELAY_UPDOWN, ID_CLICK_DELAY_EDIT, CLICK_DELAY_MIN, CLICK_DELAY_MAX, "Click repeat delay",
     "a number", SITE_CLICK_DELAY, 0, CHECK_NO_CLICK_DELAY},
};
inline constexpr int options_check_ids[] = {
    ID_EXITGAME_CHECK, ID_WC06_CHECK, ID_LEAVE_YEARS_CHECK, ID_KEEP_CONFERENCE_CHECK, ID_NO_CLICK_DELAY_CHECK,
};
static_assert(std::size(options_check_ids) == CHECK_COUNT, "a box for every check");
static_assert(std::size(options_pairs) == PAIR_COUNT, "an entry for every pair");

// What the controls hold: each up-down's position as its low word and
// whether its field's text is no number in its range (the high word), each
// check box's state as BM_GETCHECK gives it.
struct options_values {
    int32_t position[PAIR_COUNT];
    int32_t typed_wrong[PAIR_COUNT];
    int32_t check[CHECK_COUNT];
};

// The controls' state right after the scan, each value as its up-down shows
// it: clamped to the range. The check boxes that the scan does not set start
// unchecked.
options_values options_initial(const patch_target *t);

// The first pair whose value OK would write but whose field holds no number
// in its range; -1 when there is none.
int options_bad_pair(const options_values *v, const patch_target *t);
// What the player is told then: "Game starts: choose a year from 2001 to 2020."
void options_range_text(int pair, char *buf, std::size_t len);

// What OK asks to write. A site that is absent, left alone by its check box,
// or given a value it cannot take is not asked for. A field that still shows
// what it showed for a value it could not show as it is (outside its range,
// or a delay we do not recognise) asks for the value the file holds, or for
// nothing: that site stays as it is. The World Cup 06 fix, when checked,
// follows the start year, or stays where the plan cannot take it out.
patch_request options_request(const options_values *v, const patch_target *t);

// What OK did, for the box that says so: the sites the plan wrote, in the
// core's words, and the backup.
struct options_done {
    plan_line lines[SITE_COUNT];
    int count;
    int backup;  // 1 made, 0 a verified one kept, -1 none
};

// OK: writes what the values ask for through the shared path (plan, guarded
// write, read-back), telling `done` what it did. RESULT_OK also when there
// is nothing to write; RESULT_WC06_KEPT when the installed fix stayed.
patch_outcome options_ok(const options_values *v, const patch_target *t, options_done *done);

// What the "Done" box says after a write that worked: each changed setting
// in the dialog's words ("Game starts: year 2001 -> year 2010") and the way
// back; or that nothing changed, or that nothing could be written.
void options_done_text(const options_done *done, const patch_target *t, char *buf, std::size_t len);

// What the write-error box says under its first line: what failed, why when
// that is known, and, when part of the new bytes may be in the file, that
// the backup copy made before the first write is the way back.
void options_failure_text(const patch_outcome *o, const char *path, char *buf, std::size_t len);
