#include "dialog/options_values.h"

#include "dialog/options_ids.h"
#include "patch/patch_run.h"
#include "patch/rules.h"

// The years offered are a span of the years the game can take.
const updown_pair options_pairs[PAIR_COUNT] = {
    {ID_START_YEAR_UPDOWN, ID_START_YEAR_EDIT, 2001, 2020},
    {ID_BOSMAN_UPDOWN, ID_BOSMAN_EDIT, 2001, 3000},
    {ID_PROMOTED_UPDOWN, ID_PROMOTED_EDIT, PROMOTED_MIN, PROMOTED_MAX},
    {ID_RELEGATED_UPDOWN, ID_RELEGATED_EDIT, RELEGATED_MIN, RELEGATED_MAX},
    {ID_CLICK_DELAY_UPDOWN, ID_CLICK_DELAY_EDIT, CLICK_DELAY_MIN, CLICK_DELAY_MAX},
};

const int options_check_ids[CHECK_COUNT] = {
    ID_EXITGAME_CHECK, ID_WC06_CHECK, ID_LEAVE_YEARS_CHECK, ID_KEEP_CONFERENCE_CHECK, ID_NO_CLICK_DELAY_CHECK,
};

namespace {

// Shown when no delay, or one we do not recognise, is installed.
constexpr int32_t DEFAULT_CLICK_DELAY = 5;

// The low word an up-down gives back, as the signed value the site holds.
int32_t as_year(int32_t position)
{
    return static_cast<int16_t>(position & 0xffff);
}

int32_t as_count(int32_t position)
{
    return static_cast<int8_t>(position & 0xff);
}

// Asks for `value` unless it is outside what the site takes.
void take(request_value *r, int32_t value, int32_t lo, int32_t hi)
{
    if (value >= lo && value <= hi)
        *r = request_value{1, value};
}

} // namespace

options_values options_initial(const patch_target *t)
{
    options_values v{};
    v.position[PAIR_START_YEAR] = static_cast<uint16_t>(t->start_year);
    v.position[PAIR_BOSMAN] = static_cast<uint16_t>(t->bosman_year);
    v.position[PAIR_PROMOTED] = static_cast<uint16_t>(t->promoted);
    v.position[PAIR_RELEGATED] = static_cast<uint16_t>(t->relegated);
    v.position[PAIR_CLICK_DELAY] = t->click_delay > 0 ? t->click_delay : DEFAULT_CLICK_DELAY;
    v.check[CHECK_EXITGAME] = t->exitgame_installed ? 1 : 0;
    v.check[CHECK_WC06] = t->wc06_installed ? 1 : 0;
    return v;
}

patch_request options_request(const options_values *v, const patch_target *t, int32_t *wc06_kept)
{
    patch_request r;
    patch_request_init(&r);
    // Many players take no copy of the game before patching it.
    r.backup = BACKUP_KEEP_FIRST;
    *wc06_kept = 0;
    const bool years = v->check[CHECK_LEAVE_YEARS] == 0;
    const int32_t start = as_year(v->position[PAIR_START_YEAR]);
    if (years && site_usable(t->start_year_ofs))
        take(&r.start_year, start, YEAR_MIN, YEAR_MAX);
    if (years && site_usable(t->bosman_year_ofs))
        take(&r.bosman_year, as_year(v->position[PAIR_BOSMAN]), YEAR_MIN, YEAR_MAX);
    // The fix follows the start year, and is written only with it.
    if (r.start_year.set && site_usable(t->wc06_ofs) && v->check[CHECK_WC06] != 0) {
        if (start < WC06_FIRST_YEAR && t->wc06_installed && !t->wc06_original_known)
            *wc06_kept = 1;
        else
            r.wc06 = 1;
    }

    // The two conference blocks are written together or not at all.
    if (conference_usable(t)) {
        if (v->check[CHECK_KEEP_CONFERENCE] != 0) {
            r.conference_original = 1;
        } else {
            take(&r.promoted, as_count(v->position[PAIR_PROMOTED]), PROMOTED_MIN, PROMOTED_MAX);
            take(&r.relegated, as_count(v->position[PAIR_RELEGATED]), RELEGATED_MIN, RELEGATED_MAX);
        }
    }
    if (site_usable(t->click_delay_ofs) && v->check[CHECK_NO_CLICK_DELAY] == 0)
        take(&r.click_delay, as_count(v->position[PAIR_CLICK_DELAY]), CLICK_DELAY_MIN, CLICK_DELAY_MAX);
    // Only a box that is plainly checked installs the exit fix.
    if (site_usable(t->exitgame_ofs))
        r.exit_fix = request_value{1, v->check[CHECK_EXITGAME] == 1 ? 1 : 0};
    return r;
}

patch_outcome options_apply(const options_values *v, const patch_target *t, int32_t *wc06_kept)
{
    patch_request r = options_request(v, t, wc06_kept);
    if (patch_request_empty(&r))
        return outcome_of(RESULT_OK);
    return patch_apply(&r, t, nullptr);
}
