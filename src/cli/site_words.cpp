#include "cli/site_words.h"

#include <cstring>

#include "patch/patch_request.h"

namespace {

const char *const site_labels[SITE_COUNT] = {
    "start year", "World Cup 06 fix", "Bosman year", "click delay",
    "exit fix",   "conference counts", "conference promoted count",
};

void print_site_line(std::FILE *out, int site, int32_t ofs, const char *before, const char *after)
{
    std::fprintf(out, "  %-14s at 0x%08x (%d): %s -> %s%s\n", patch_catalogue[site].name,
                 static_cast<unsigned>(ofs), ofs, before, after,
                 std::strcmp(before, after) == 0 ? " (no change)" : "");
}

// Why a site is absent, by site_absence.
const char *const absence_texts[] = {
    "present",
    "not found",
    "found more than once",
    "cut off by the end of the file",
    "shares bytes with another site",
    "code not recognised",
    "the other conference block is absent or does not match",
    "read error",
};

} // namespace

const char *site_label(int site)
{
    return site >= 0 && site < SITE_COUNT ? site_labels[site] : "file";
}

const char *absence_words(int why)
{
    return why > SITE_PRESENT && why <= ABSENT_READ_ERROR ? absence_texts[why] : "not found";
}

void site_state_words(const patch_target *t, int site, char *buf, std::size_t len)
{
    switch (site) {
    case SITE_START_YEAR:
    case SITE_BOSMAN_YEAR:
        if (target_site_ofs(t, site) > 0) {
            std::snprintf(buf, len, "year %d", site == SITE_START_YEAR ? t->start_year : t->bosman_year);
            return;
        }
        break;
    case SITE_WC06_FIX:
    case SITE_EXITGAME:
        if (target_site_ofs(t, site) > 0) {
            int installed = site == SITE_WC06_FIX ? t->wc06_installed : t->exitgame_installed;
            std::snprintf(buf, len, "%s", installed ? "installed" : "not installed");
            return;
        }
        break;
    case SITE_CLICK_DELAY:
        if (site_usable(t->click_delay_ofs)) {
            if (t->click_delay == -1)
                std::snprintf(buf, len, "not installed");
            else if (t->click_delay >= 1)
                std::snprintf(buf, len, "delay %d", t->click_delay);
            else
                std::snprintf(buf, len, "installed, delay not recognised");
            return;
        }
        break;
    case SITE_CONF_COUNTS:
        if (site_usable(t->conf_counts_ofs)) {
            std::snprintf(buf, len, "promoted %d, relegated %d", t->promoted, t->relegated);
            return;
        }
        break;
    case SITE_CONF_PROMOTED:
        if (site_usable(t->conf_promoted_ofs)) {
            std::snprintf(buf, len, t->conf_half_written ? "promoted %d, half-written: the next apply finishes it"
                                                         : "promoted %d", t->promoted);
            return;
        }
        break;
    default:
        break;
    }
    std::snprintf(buf, len, "%s", absence_words(site >= 0 && site < SITE_COUNT ? t->absent[site] : ABSENT_NOT_FOUND));
}

void print_plan(const patch_target *scanned, const patch_target *plan, std::FILE *out)
{
    char before[64];
    char after[64];
    for (int site = 0; site < SITE_COUNT; ++site) {
        int32_t ofs = target_site_ofs(plan, site);
        if (!site_usable(ofs))
            continue;
        site_state_words(scanned, site, before, sizeof before);
        if (site == SITE_WC06_FIX)
            std::snprintf(after, sizeof after, "%s", plan_installs_wc06(plan) ? "installed" : "not installed");
        else if ((site == SITE_CONF_COUNTS || site == SITE_CONF_PROMOTED) && !plan->touch_conference)
            std::snprintf(after, sizeof after, "game's code");
        else
            site_state_words(plan, site, after, sizeof after);
        print_site_line(out, site, ofs, before, after);
    }
}
