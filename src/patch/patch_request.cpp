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

// The sites the request writes, a bit per site_id; the World Cup 06 fix
// follows the start year, and the conference blocks go as a pair.
int requested_sites(const patch_request *r)
{
    const bool asked[SITE_COUNT] = {
        r->start_year.set != 0, r->wc06 != WC06_LEAVE, r->bosman_year.set != 0, r->click_delay.set != 0,
        r->exitgame.set != 0,   conference_requested(r), conference_requested(r),
    };
    int sites = 0;
    for (int site = 0; site < SITE_COUNT; ++site)
        sites |= asked[site] ? 1 << site : 0;
    return sites;
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

patch_outcome patch_request_plan(const patch_request *r, const patch_target *scanned,
                                 patch_target *plan)
{
    *plan = *scanned;
    patch_result checked = patch_request_check(r);
    if (checked != RESULT_OK)
        return outcome_of(checked);
    const int sites = requested_sites(r);
    for (int site = 0; site < SITE_COUNT; ++site)
        if ((sites & 1 << site) != 0 && !target_site_usable(scanned, site)) {
            patch_outcome o = outcome_of(RESULT_SITE_ABSENT, site);
            o.why = scanned->absent[site];
            return o;
        }
    // Going back before the World Cup 06 year means writing the game's own
    // block, which we only have when the scan saw it in the file.
    const bool keep_wc06 = r->wc06 != WC06_LEAVE && r->start_year.value < WC06_FIRST_YEAR
                           && scanned->wc06_installed && !scanned->wc06_original_known;
    if (keep_wc06 && r->wc06 != WC06_FOLLOW_OR_KEEP)
        return outcome_of(RESULT_WC06_ORIGINAL_UNKNOWN, SITE_WC06_FIX);

    // Every other site's offset is -1, and every block written goes out whole.
    for (int site = 0; site < SITE_COUNT; ++site)
        if ((sites & 1 << site) == 0 || (site == SITE_WC06_FIX && keep_wc06))
            plan->*patch_catalogue[site].ofs = -1;
        else
            plan->damaged &= ~(1 << site);
    if (r->start_year.set)
        plan->start_year = static_cast<int16_t>(r->start_year.value);
    plan->wc06_installed = plan->start_year >= WC06_FIRST_YEAR ? 1 : 0;
    if (r->bosman_year.set)
        plan->bosman_year = static_cast<int16_t>(r->bosman_year.value);
    if (r->click_delay.set)
        plan->click_delay = static_cast<int8_t>(
            r->click_delay.value == CLICK_DELAY_OFF ? -1 : r->click_delay.value);
    if (r->exitgame.set)
        plan->exitgame_installed = r->exitgame.value;
    if (r->conference_original) {
        plan->touch_conference = 0;
        plan->promoted = GAME_PROMOTED;
        plan->relegated = GAME_RELEGATED;
    } else if (conference_requested(r)) {
        // A count not given keeps what the file holds now.
        plan->touch_conference = 1;
        if (r->promoted.set)
            plan->promoted = static_cast<int8_t>(r->promoted.value);
        if (r->relegated.set)
            plan->relegated = static_cast<int8_t>(r->relegated.value);
    }
    // The plan holds the blocks as they will be: both ours, or both the game's.
    if (conference_requested(r)) {
        plan->conf_installed = plan->conf_promoted_installed = plan->touch_conference;
        plan->conf_half_written = 0;
    }
    return keep_wc06 ? outcome_of(RESULT_WC06_KEPT, SITE_WC06_FIX) : outcome_of(RESULT_OK);
}
