#include "dialog/options_layout.h"

#include "dialog/options_ids.h"
#include "dialog/options_values.h"

namespace {

enum layout_kind : int { L_GROUP, L_EDIT, L_UPDOWN, L_LABEL, L_CHECK, L_BUTTON };

// Which sites the scan must offer for a control to be enabled: all of them,
// or (NEEDS_ANY) any one.
constexpr int site_bit(site_id site)
{
    return 1 << site;
}
constexpr int NEEDS_NOTHING = 0;
constexpr int NEEDS_START_YEAR = site_bit(SITE_START_YEAR);
constexpr int NEEDS_START_YEAR_AND_WC06 = site_bit(SITE_START_YEAR) | site_bit(SITE_WC06_FIX);
constexpr int NEEDS_BOSMAN_YEAR = site_bit(SITE_BOSMAN_YEAR);
constexpr int NEEDS_ANY = 1 << SITE_COUNT;
constexpr int NEEDS_EITHER_YEAR = NEEDS_ANY | site_bit(SITE_START_YEAR) | site_bit(SITE_BOSMAN_YEAR);
constexpr int NEEDS_CONFERENCE = site_bit(SITE_CONF_COUNTS) | site_bit(SITE_CONF_PROMOTED);
constexpr int NEEDS_CLICK_DELAY = site_bit(SITE_CLICK_DELAY);
constexpr int NEEDS_EXITGAME = site_bit(SITE_EXITGAME);

struct layout_entry {
    layout_kind kind;
    int id;
    const char *text;
    int x, y, cx, cy;
    uint32_t style;
    int needs;
};

constexpr int NO_ID = 0xFFFF;
constexpr const char *EDIT_TEXT = "2001";

// In creation order, which is also the tab order; each up-down follows its
// edit so that it takes the edit as its buddy. The year fields are 24 units
// wide: at 18 a four-digit year shows only three digits.
const layout_entry options_layout[] = {
    {L_GROUP, NO_ID, "Years", 2, 2, 96, 59, 0, NEEDS_NOTHING},
    {L_EDIT, ID_START_YEAR_EDIT, EDIT_TEXT, 9, 12, 24, 10, ES_NUMBER, NEEDS_START_YEAR},
    {L_UPDOWN, ID_START_YEAR_UPDOWN, nullptr, 33, 12, 5, 10, 0, NEEDS_START_YEAR},
    {L_LABEL, NO_ID, options_pairs[PAIR_START_YEAR].label, 42, 12, 50, 10, 0, NEEDS_START_YEAR},
    {L_CHECK, ID_WC06_CHECK, "World Cup 06 fix", 9, 24, 85, 10, 0, NEEDS_START_YEAR_AND_WC06},
    {L_EDIT, ID_BOSMAN_EDIT, EDIT_TEXT, 9, 36, 24, 10, ES_NUMBER, NEEDS_BOSMAN_YEAR},
    {L_UPDOWN, ID_BOSMAN_UPDOWN, nullptr, 33, 36, 5, 10, 0, NEEDS_BOSMAN_YEAR},
    {L_LABEL, NO_ID, options_pairs[PAIR_BOSMAN].label, 42, 36, 50, 10, 0, NEEDS_BOSMAN_YEAR},
    {L_CHECK, ID_LEAVE_YEARS_CHECK, "Leave years untouched", 9, 48, 85, 10, 0, NEEDS_EITHER_YEAR},
    {L_GROUP, NO_ID, "Conference league", 2, 64, 96, 47, 0, NEEDS_NOTHING},
    {L_EDIT, ID_PROMOTED_EDIT, EDIT_TEXT, 9, 74, 10, 10, ES_NUMBER, NEEDS_CONFERENCE},
    {L_UPDOWN, ID_PROMOTED_UPDOWN, nullptr, 19, 74, 5, 10, 0, NEEDS_CONFERENCE},
    {L_LABEL, NO_ID, options_pairs[PAIR_PROMOTED].label, 28, 74, 50, 10, 0, NEEDS_CONFERENCE},
    {L_EDIT, ID_RELEGATED_EDIT, EDIT_TEXT, 9, 86, 10, 10, ES_NUMBER, NEEDS_CONFERENCE},
    {L_UPDOWN, ID_RELEGATED_UPDOWN, nullptr, 19, 86, 5, 10, 0, NEEDS_CONFERENCE},
    {L_LABEL, NO_ID, options_pairs[PAIR_RELEGATED].label, 28, 86, 50, 10, 0, NEEDS_CONFERENCE},
    {L_CHECK, ID_KEEP_CONFERENCE_CHECK, "Don't touch conference", 9, 98, 85, 10, 0, NEEDS_CONFERENCE},
    {L_GROUP, NO_ID, "Misc fixes", 2, 114, 96, 44, 0, NEEDS_NOTHING},
    {L_EDIT, ID_CLICK_DELAY_EDIT, EDIT_TEXT, 9, 124, 10, 10, ES_NUMBER, NEEDS_CLICK_DELAY},
    {L_UPDOWN, ID_CLICK_DELAY_UPDOWN, nullptr, 19, 124, 5, 10, 0, NEEDS_CLICK_DELAY},
    {L_LABEL, NO_ID, options_pairs[PAIR_CLICK_DELAY].label, 28, 124, 68, 10, 0, NEEDS_CLICK_DELAY},
    {L_CHECK, ID_NO_CLICK_DELAY_CHECK, "Don't install click delay", 9, 134, 85, 10, 0, NEEDS_CLICK_DELAY},
    {L_CHECK, ID_EXITGAME_CHECK, "Close window exits game", 9, 144, 85, 10, 0, NEEDS_EXITGAME},
    {L_BUTTON, ID_OK, "OK", 10, 161, 30, 10, 0, NEEDS_NOTHING},
    {L_BUTTON, ID_CANCEL, "Cancel", 60, 161, 30, 10, 0, NEEDS_NOTHING},
};

bool met(int needs, const patch_target *t)
{
    int found = 0;
    for (int site = 0; site < SITE_COUNT; ++site)
        found |= target_site_usable(t, site) ? site_bit(static_cast<site_id>(site)) : 0;
    const int sites = needs & ~NEEDS_ANY;
    return (needs & NEEDS_ANY) != 0 ? (found & sites) != 0 : (found & sites) == sites;
}

} // namespace

dlg_template *layout_options_dialog(const patch_target *t)
{
    dlg_template *d = dlg_begin(100, 100, 100, 173, "Velmar's ZANDOR patcher", 0);
    if (d == nullptr)
        return nullptr;
    for (const layout_entry &e : options_layout) {
        uint32_t style = e.style | (met(e.needs, t) ? 0 : WS_DISABLED);
        switch (e.kind) {
        case L_GROUP:
            dlg_add_group(d, e.x, e.y, e.cx, e.cy, e.text, style);
            break;
        case L_EDIT:
            dlg_add_edit(d, e.x, e.y, e.cx, e.cy, e.id, e.text, style);
            break;
        case L_UPDOWN:
            dlg_add_updown(d, e.x, e.y, e.cx, e.cy, e.id, style);
            break;
        case L_LABEL:
            dlg_add_label(d, e.x, e.y, e.cx, e.cy, e.text, style);
            break;
        case L_CHECK:
            dlg_add_check(d, e.x, e.y, e.cx, e.cy, e.id, e.text, style);
            break;
        case L_BUTTON:
            dlg_add_button(d, e.x, e.y, e.cx, e.cy, e.id, e.text);
            break;
        }
    }
    return d;
}
