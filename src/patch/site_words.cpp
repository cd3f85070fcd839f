#include "patch/site_words.h"

#include <cstring>
#include <iterator>

#include "patch/apply_patches.h"

namespace {

// Why a site is absent, by site_absence: in words, and as a code.
const struct {
    const char *words;
    const char *code;
} absence_texts[] = {
    {"present", "present"},
    {"not found", "not_found"},
    {"found more than once", "found_twice"},
    {"cut off by the end of the file", "cut_off"},
    {"shares bytes with another site", "shared_bytes"},
    {"code not recognised", "unknown_code"},
    {"the other conference block is absent or does not match", "pair_mismatch"},
    {"read error", "read_error"},
};
static_assert(std::size(absence_texts) == ABSENT_READ_ERROR + 1, "words for every site_absence");

int absence_index(int why)
{
    return why > ABSENT_NONE && why <= ABSENT_READ_ERROR ? why : ABSENT_NOT_FOUND;
}

// A conference block holding our code (`ours`) or the game's, which behaves
// like GAME_PROMOTED and GAME_RELEGATED but is other bytes. `half_written`:
// the game's block next to our counts, as a scan found it; the count is then
// the one in the counts.
void conference_words(int ours, int half_written, const patch_target *t, int site, char *buf, std::size_t len)
{
    if (site == SITE_CONF_PROMOTED && half_written)
        std::snprintf(buf, len, "promoted %d, half-written: the next apply finishes it", t->promoted);
    else if (!ours)
        std::snprintf(buf, len, "game's code");
    else if (site == SITE_CONF_COUNTS)
        std::snprintf(buf, len, "promoted %d, relegated %d", t->promoted, t->relegated);
    else
        std::snprintf(buf, len, "promoted %d", t->promoted);
}

} // namespace

const char *site_label(int site)
{
    return site >= 0 && site < SITE_COUNT ? patch_catalogue[site].label : "file";
}

const char *absence_words(int why)
{
    return absence_texts[absence_index(why)].words;
}

const char *absence_code(int why)
{
    return absence_texts[absence_index(why)].code;
}

namespace {

void state_words(const patch_target *t, int site, char *buf, std::size_t len)
{
    if (!target_site_usable(t, site)) {
        std::snprintf(buf, len, "%s", absence_words(site >= 0 && site < SITE_COUNT ? t->absent[site] : ABSENT_NOT_FOUND));
        return;
    }
    const site_entry &e = patch_catalogue[site];
    if (e.kind == SITE_KIND_YEAR)
        std::snprintf(buf, len, "year %d", t->*e.year);
    else if (e.kind == SITE_KIND_PAIR)
        conference_words(t->*e.installed, t->conf_half_written, t, site, buf, len);
    else if (site != SITE_CLICK_DELAY)
        std::snprintf(buf, len, "%s", t->*e.installed ? "installed" : "not installed");
    else if (t->click_delay == -1)
        std::snprintf(buf, len, "not installed");
    else if (t->click_delay >= 1)
        std::snprintf(buf, len, "delay %d", t->click_delay);
    else
        std::snprintf(buf, len, "installed, delay not recognised");
}

} // namespace

void site_state_words(const patch_target *t, int site, char *buf, std::size_t len)
{
    state_words(t, site, buf, len);
    const std::size_t used = std::strlen(buf);
    if (site_damaged(t, site) && used < len)
        std::snprintf(buf + used, len - used, ", damaged: run the same change again");
}

bool site_damaged(const patch_target *t, int site)
{
    return site_usable(target_site_ofs(t, site)) && (t->damaged & (1 << site)) != 0;
}

int plan_lines(const patch_target *scanned, const patch_target *plan, plan_line out[SITE_COUNT])
{
    int n = 0;
    const int changes = planned_changes(plan);
    for (int site = 0; site < SITE_COUNT; ++site) {
        const int32_t ofs = target_site_ofs(plan, site);
        if (!site_usable(ofs))
            continue;
        plan_line &l = out[n++];
        l.site = site;
        l.ofs = ofs;
        site_state_words(scanned, site, l.before, sizeof l.before);
        site_state_words(plan, site, l.after, sizeof l.after);
        l.change = (changes & (1 << site)) != 0;
    }
    return n;
}

void print_plan(const patch_target *scanned, const patch_target *plan, std::FILE *out)
{
    plan_line lines[SITE_COUNT];
    const int n = plan_lines(scanned, plan, lines);
    for (int i = 0; i < n; ++i) {
        const plan_line &l = lines[i];
        std::fprintf(out, "  %-14s at 0x%08x (%d): %s -> %s%s\n", patch_catalogue[l.site].name,
                     static_cast<unsigned>(l.ofs), l.ofs, l.before, l.after, l.change ? "" : " (no change)");
    }
}

void print_scan_notes(std::FILE *out, const patch_target *t)
{
    const site_seen &seen = t->seen[SITE_EXITGAME];
    if (t->file_size < 0 || t->absent[SITE_EXITGAME] == ABSENT_NONE)
        return;
    if (t->absent[SITE_EXITGAME] == ABSENT_UNRECOGNISED)
        std::fprintf(out, "First byte after exit fix is %02X\n", seen.bytes[0]);
    else
        std::fprintf(out, "exitgame: ofs = %i, ofs2 = %i\n", seen.first, seen.second);
}
