#include "dialog/options_values.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "patch/patch_run.h"

namespace {

// Shown when no delay, or one we do not recognise, is installed.
constexpr int32_t DEFAULT_CLICK_DELAY = 5;
// A value the scan saw but could not read: a delay we do not recognise.
constexpr int32_t UNKNOWN = INT32_MIN;

// The low word an up-down gives back, as the signed value the site holds.
int32_t as_year(int32_t position)
{
    return static_cast<int16_t>(position & 0xffff);
}

int32_t as_count(int32_t position)
{
    return static_cast<int8_t>(position & 0xff);
}

// What the file holds for a pair; no delay installed counts as the one OK
// would install.
int32_t scanned_value(const patch_target *t, int pair)
{
    const updown_pair &p = options_pairs[pair];
    const site_entry &e = patch_catalogue[p.site];
    if (e.kind == SITE_KIND_YEAR)
        return t->*e.year;
    const int32_t v = t->*e.params[p.param].field;
    if (p.site != SITE_CLICK_DELAY || v > 0)
        return v;
    return v == -1 ? DEFAULT_CLICK_DELAY : UNKNOWN;
}

bool in_range(int32_t value, int pair)
{
    return value >= options_pairs[pair].min && value <= options_pairs[pair].max;
}

// What the pair's up-down shows for what the file holds.
int32_t shown(const patch_target *t, int pair)
{
    const int32_t v = scanned_value(t, pair);
    return v == UNKNOWN ? DEFAULT_CLICK_DELAY : std::clamp(v, options_pairs[pair].min, options_pairs[pair].max);
}

// Whether OK writes the pair's site with the pair's value.
bool pair_used(const options_values *v, const patch_target *t, int pair)
{
    const updown_pair &p = options_pairs[pair];
    const bool usable = p.site == SITE_CONF_COUNTS ? conference_usable(t) : target_site_usable(t, p.site);
    return usable && v->check[p.skip] == 0;
}

// The value OK takes from a pair, `typed` converted to the site's type:
// while the field shows what it showed for a value it could not show as it
// is, the file's own value, so that the site stays as it is.
int32_t chosen(const options_values *v, const patch_target *t, int pair, int32_t typed)
{
    const int32_t file = scanned_value(t, pair);
    return !in_range(file, pair) && v->position[pair] == shown(t, pair) ? file : typed;
}

// Each site in the dialog's words; the promoted block's change is the
// conference's, told once with the counts.
const char *const done_labels[] = {
    "Game starts",        "World Cup 06 fix",        "Bosman ruling",     "Click repeat delay",
    "Close window exits game", "Conference league", nullptr,
};
static_assert(std::size(done_labels) == SITE_COUNT, "a label for every site");

bool planned(void *ctx, const patch_target *scanned, const patch_target *plan)
{
    auto *done = static_cast<options_done *>(ctx);
    done->count = plan_lines(scanned, plan, done->lines);
    return true;
}

void backed_up(void *ctx, int made)
{
    static_cast<options_done *>(ctx)->backup = made;
}

// The file's own name, without its folder.
const char *leaf_of(const char *path)
{
    const char *leaf = path;
    for (const char *c = path; *c != '\0'; ++c)
        if (*c == '\\' || *c == '/' || *c == ':')
            leaf = c + 1;
    return leaf;
}

// Appends to `buf`, as far as it has room.
void add(char *buf, std::size_t len, const char *format, const char *a, const char *b = "", const char *c = "")
{
    const std::size_t used = std::strlen(buf);
    if (used + 1 < len)
        std::snprintf(buf + used, len - used, format, a, b, c);
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
    for (int i = 0; i < PAIR_COUNT; ++i)
        v.position[i] = shown(t, i);
    v.check[CHECK_EXITGAME] = t->exitgame_installed ? 1 : 0;
    v.check[CHECK_WC06] = t->wc06_installed ? 1 : 0;
    return v;
}

int options_bad_pair(const options_values *v, const patch_target *t)
{
    for (int i = 0; i < PAIR_COUNT; ++i)
        if (v->typed_wrong[i] != 0 && pair_used(v, t, i))
            return i;
    return -1;
}

void options_range_text(int pair, char *buf, std::size_t len)
{
    const updown_pair &p = options_pairs[pair];
    std::snprintf(buf, len, "%s: choose %s from %d to %d.", p.label, p.holds, p.min, p.max);
}

patch_request options_request(const options_values *v, const patch_target *t)
{
    patch_request r;
    patch_request_init(&r);
    // Many players take no copy of the game before patching it.
    r.backup = BACKUP_ON;
    int32_t value[PAIR_COUNT];
    for (int i = 0; i < PAIR_COUNT; ++i) {
        const int32_t typed = i <= PAIR_BOSMAN ? as_year(v->position[i]) : as_count(v->position[i]);
        value[i] = v->typed_wrong[i] != 0 ? UNKNOWN : chosen(v, t, i, typed);
    }
    if (pair_used(v, t, PAIR_START_YEAR))
        take(&r.start_year, value[PAIR_START_YEAR], YEAR_MIN, YEAR_MAX);
    if (pair_used(v, t, PAIR_BOSMAN))
        take(&r.bosman_year, value[PAIR_BOSMAN], YEAR_MIN, YEAR_MAX);
    // The fix follows the start year, and is written only with it.
    if (r.start_year.set && target_site_usable(t, SITE_WC06_FIX) && v->check[CHECK_WC06] != 0)
        r.wc06 = WC06_FOLLOW_OR_KEEP;

    // The two conference blocks are written together or not at all.
    if (conference_usable(t) && v->check[CHECK_KEEP_CONFERENCE] != 0)
        r.conference_original = 1;
    if (pair_used(v, t, PAIR_PROMOTED)) {
        take(&r.promoted, value[PAIR_PROMOTED], PROMOTED_MIN, PROMOTED_MAX);
        take(&r.relegated, value[PAIR_RELEGATED], RELEGATED_MIN, RELEGATED_MAX);
    }
    if (pair_used(v, t, PAIR_CLICK_DELAY))
        take(&r.click_delay, value[PAIR_CLICK_DELAY], CLICK_DELAY_MIN, CLICK_DELAY_MAX);
    // Only a box that is plainly checked installs our exitgame block.
    if (target_site_usable(t, SITE_EXITGAME))
        r.exitgame = request_value{1, v->check[CHECK_EXITGAME] == 1 ? 1 : 0};
    return r;
}

patch_outcome options_ok(const options_values *v, const patch_target *t, options_done *done)
{
    *done = options_done{};
    done->backup = -1;
    patch_request r = options_request(v, t);
    if (patch_request_empty(&r))
        return outcome_of(RESULT_OK);
    const patch_events events{done, nullptr, planned, backed_up};
    return patch_scanned(&r, t, &events);
}

void options_done_text(const options_done *done, const patch_target *t, char *buf, std::size_t len)
{
    const char *file = leaf_of(t->path);
    buf[0] = '\0';
    bool recognised = false;
    for (int site = 0; site < SITE_COUNT; ++site)
        recognised = recognised || target_site_usable(t, site);
    if (!recognised) {
        add(buf, len, "No part of %s was recognised as ZANDOR.EXE's, so nothing could be written.", file);
        return;
    }
    bool changed = false;
    for (int i = 0; i < done->count; ++i) {
        const plan_line &l = done->lines[i];
        const char *label = done_labels[l.site] != nullptr ? done_labels[l.site] : done_labels[SITE_CONF_COUNTS];
        // The promoted block's change shows with the counts, when they change too.
        const bool told = l.site == SITE_CONF_PROMOTED && i > 0 && done->lines[i - 1].site == SITE_CONF_COUNTS
                          && done->lines[i - 1].change;
        if (l.change && !told) {
            add(buf, len, changed ? "\n%s: %s" : "%s: %s", label, l.before);
            add(buf, len, " -> %s", l.after);
            changed = true;
        }
    }
    if (!changed)
        add(buf, len, "Nothing was changed: %s already holds these settings.", file);
    if (done->backup < 0)
        return;
    add(buf, len, "\n\nThe game as it was is kept in %s.bak.", file);
    add(buf, len, "\nTo undo the changes, run zandor-patcher-cli restore %s, or copy %s.bak back over %s.", file, file,
        file);
}

void options_failure_text(const patch_outcome *o, const char *path, char *buf, std::size_t len)
{
    const char *why = cause_text(outcome_cause(*o));
    const int n = std::snprintf(buf, len, "%s%s%s", result_text(o->result), why != nullptr ? "\n" : "",
                                why != nullptr ? why : "");
    const auto used = static_cast<std::size_t>(n);
    if (o->unrestored != 0 && n >= 0 && used + 1 < len) {
        buf[used] = '\n';
        std::snprintf(buf + used + 1, len - used - 1, unrestored_text(NOTE_UNDO_FROM_BACKUP), path);
    }
}
