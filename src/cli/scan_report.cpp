#include "cli/scan_report.h"

#include "cli/site_words.h"

int print_scan_table(std::FILE *out, const char *file, const patch_target *t)
{
    bool ok = std::fprintf(out, "%s (%lld bytes)\n", file, static_cast<long long>(t->file_size)) > 0
              && std::fprintf(out, "%-14s  %-23s  %s\n", "site", "offset", "state") > 0;
    for (int site = 0; site < SITE_COUNT && ok; ++site) {
        char where[32];
        int32_t ofs = target_site_ofs(t, site);
        if (ofs > 0)
            std::snprintf(where, sizeof where, "0x%08x (%d)", static_cast<unsigned>(ofs), ofs);
        else
            std::snprintf(where, sizeof where, "absent");
        char state[64] = "-";
        if (ofs > 0)
            site_state_words(t, site, state, sizeof state);
        else if (site == SITE_CLICK_DELAY && t->click_delay == -2)
            std::snprintf(state, sizeof state, "code not recognised");
        ok = std::fprintf(out, "%-14s  %-23s  %s\n", patch_catalogue[site].name, where, state) > 0;
    }
    return ok && std::fflush(out) == 0 ? 0 : -1;
}

int print_scan_json(std::FILE *out, const patch_target *t)
{
    const struct {
        const char *key;
        long value;
    } fields[] = {
        {"start_year_ofs", t->start_year_ofs},
        {"start_year", t->start_year},
        {"wc06_ofs", t->wc06_ofs},
        {"wc06_installed", t->wc06_installed},
        {"bosman_year_ofs", t->bosman_year_ofs},
        {"bosman_year", t->bosman_year},
        {"click_delay_ofs", t->click_delay_ofs},
        {"click_delay", t->click_delay},
        {"exitgame_ofs", t->exitgame_ofs},
        {"exitgame_installed", t->exitgame_installed},
        {"conf_counts_ofs", t->conf_counts_ofs},
        {"conf_promoted_ofs", t->conf_promoted_ofs},
        {"promoted", t->promoted},
        {"relegated", t->relegated},
        {"touch_conference", t->touch_conference},
    };
    bool ok = std::fputc('{', out) != EOF;
    bool first = true;
    for (const auto &f : fields) {
        ok = ok && std::fprintf(out, "%s\"%s\": %ld", first ? "" : ", ", f.key, f.value) > 0;
        first = false;
    }
    ok = ok && std::fputs("}\n", out) != EOF;
    return ok && std::fflush(out) == 0 ? 0 : -1;
}
