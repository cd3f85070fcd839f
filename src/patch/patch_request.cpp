#include "patch/patch_request.h"

#include <cstring>

#include "patch/rules.h"

namespace {

bool in_range(const request_value &v, int32_t lo, int32_t hi)
{
    return v.value >= lo && v.value <= hi;
}

bool conference_requested(const patch_request *r)
{
    return r->promoted.set || r->relegated.set || r->conference_original;
}

// The first requested site that the scan did not find usable.
int first_absent_site(const patch_request *r, const patch_target *t)
{
    if (r->start_year.set && !site_usable(t->start_year_ofs))
        return SITE_START_YEAR;
    if (r->wc06 && !site_usable(t->wc06_ofs))
        return SITE_WC06_FIX;
    if (r->bosman_year.set && !site_usable(t->bosman_year_ofs))
        return SITE_BOSMAN_YEAR;
    if (r->click_delay.set && !site_usable(t->click_delay_ofs))
        return SITE_CLICK_DELAY;
    if (r->exitgame.set && !site_usable(t->exitgame_ofs))
        return SITE_EXITGAME;
    if (conference_requested(r) && !site_usable(t->conf_counts_ofs))
        return SITE_CONF_COUNTS;
    if (conference_requested(r) && !site_usable(t->conf_promoted_ofs))
        return SITE_CONF_PROMOTED;
    return -1;
}

} // namespace

void patch_request_init(patch_request *r)
{
    std::memset(r, 0, sizeof *r);
}

bool patch_request_empty(const patch_request *r)
{
    return !r->start_year.set && !r->bosman_year.set && !r->wc06 && !conference_requested(r)
           && !r->click_delay.set && !r->exitgame.set;
}

patch_result patch_request_check(const patch_request *r)
{
    if (patch_request_empty(r))
        return RESULT_NOTHING_REQUESTED;
    if (r->start_year.set && !in_range(r->start_year, YEAR_MIN, YEAR_MAX))
        return RESULT_BAD_START_YEAR;
    if (r->bosman_year.set && !in_range(r->bosman_year, YEAR_MIN, YEAR_MAX))
        return RESULT_BAD_BOSMAN_YEAR;
    if (r->wc06 && !r->start_year.set)
        return RESULT_WC06_NEEDS_START_YEAR;
    if (r->conference_original && (r->promoted.set || r->relegated.set))
        return RESULT_CONFERENCE_CONFLICT;
    if (r->promoted.set && !in_range(r->promoted, PROMOTED_MIN, PROMOTED_MAX))
        return RESULT_BAD_PROMOTED;
    if (r->relegated.set && !in_range(r->relegated, RELEGATED_MIN, RELEGATED_MAX))
        return RESULT_BAD_RELEGATED;
    if (r->click_delay.set && r->click_delay.value != CLICK_DELAY_OFF
        && !in_range(r->click_delay, CLICK_DELAY_MIN, CLICK_DELAY_MAX))
        return RESULT_BAD_CLICK_DELAY;
    if (r->exitgame.set && !in_range(r->exitgame, 0, 1))
        return RESULT_BAD_EXITGAME;
    return RESULT_OK;
}

bool plan_installs_wc06(const patch_target *plan)
{
    return plan->start_year >= WC06_FIRST_YEAR;
}

patch_outcome patch_request_plan(const patch_request *r, const patch_target *scanned,
                                 patch_target *plan)
{
    *plan = *scanned;
    patch_result checked = patch_request_check(r);
    if (checked != RESULT_OK)
        return outcome_of(checked);
    int absent = first_absent_site(r, scanned);
    if (absent >= 0) {
        patch_outcome o = outcome_of(RESULT_SITE_ABSENT, absent);
        o.why = scanned->absent[absent];
        return o;
    }
    // Going back before the World Cup 06 year means writing the game's own
    // block, which we only have when the scan saw it in the file.
    const bool keep_wc06 = r->wc06 != WC06_LEAVE && r->start_year.value < WC06_FIRST_YEAR
                           && scanned->wc06_installed && !scanned->wc06_original_known;
    if (keep_wc06 && r->wc06 != WC06_FOLLOW_OR_KEEP)
        return outcome_of(RESULT_WC06_ORIGINAL_UNKNOWN, SITE_WC06_FIX);

    if (r->start_year.set)
        plan->start_year = static_cast<int16_t>(r->start_year.value);
    else
        plan->start_year_ofs = -1;
    if (r->wc06 == WC06_LEAVE || keep_wc06)
        plan->wc06_ofs = -1;
    if (r->bosman_year.set)
        plan->bosman_year = static_cast<int16_t>(r->bosman_year.value);
    else
        plan->bosman_year_ofs = -1;
    if (r->click_delay.set)
        plan->click_delay = static_cast<int8_t>(
            r->click_delay.value == CLICK_DELAY_OFF ? -1 : r->click_delay.value);
    else
        plan->click_delay_ofs = -1;
    if (r->exitgame.set)
        plan->exitgame_installed = r->exitgame.value;
    else
        plan->exitgame_ofs = -1;

    if (!conference_requested(r)) {
        plan->conf_counts_ofs = -1;
        plan->conf_promoted_ofs = -1;
    } else if (r->conference_original) {
        plan->touch_conference = 0;
        plan->promoted = GAME_PROMOTED;
        plan->relegated = GAME_RELEGATED;
    } else {
        // A count not given keeps what the file holds now.
        plan->touch_conference = 1;
        if (r->promoted.set)
            plan->promoted = static_cast<int8_t>(r->promoted.value);
        if (r->relegated.set)
            plan->relegated = static_cast<int8_t>(r->relegated.value);
    }
    // Every block written goes out whole.
    for (int site = 0; site < SITE_COUNT; ++site)
        if (site_usable(target_site_ofs(plan, site)))
            plan->damaged &= ~(1 << site);
    return keep_wc06 ? outcome_of(RESULT_WC06_KEPT, SITE_WC06_FIX) : outcome_of(RESULT_OK);
}
