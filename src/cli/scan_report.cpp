#include "cli/scan_report.h"

#include "patch/site_words.h"

void print_scan_table(std::FILE *out, const char *file, const patch_target *t)
{
    // A length that could not be had makes every site a read error, told after the table.
    if (t->file_size < 0)
        std::fprintf(out, "%s (length unknown)\n", file);
    else
        std::fprintf(out, "%s (%lld bytes)\n", file, static_cast<long long>(t->file_size));
    std::fprintf(out, "%-14s  %-23s  %s\n", "site", "offset", "state");
    for (int site = 0; site < SITE_COUNT; ++site) {
        char where[32] = "absent";
        char state[64];
        int32_t ofs = target_site_ofs(t, site);
        if (site_usable(ofs))
            std::snprintf(where, sizeof where, "0x%08x (%d)", static_cast<unsigned>(ofs), ofs);
        site_state_words(t, site, state, sizeof state);
        std::fprintf(out, "%-14s  %-23s  %s\n", patch_catalogue[site].name, where, state);
    }
}

void print_json_string(std::FILE *out, const char *s)
{
    std::fputc('"', out);
    for (; *s != '\0'; ++s) {
        const auto c = static_cast<unsigned char>(*s);
        if (c == '"' || c == '\\')
            std::fprintf(out, "\\%c", c);
        else if (c < 0x20)
            std::fprintf(out, "\\u%04x", c);
        else
            std::fputc(c, out);
    }
    std::fputc('"', out);
}

void print_scan_json(std::FILE *out, const char *file, const patch_target *t)
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
        {"conf_installed", t->conf_installed},
    };
    const char *separator = "{";
    for (const auto &f : fields) {
        std::fprintf(out, "%s\"%s\": %ld", separator, f.key, f.value);
        separator = ", ";
    }
    std::fputs(", \"path\": ", out);
    print_json_string(out, file);
    std::fprintf(out, ", \"size\": %lld, \"version\": \"%s\", \"absent\": {", static_cast<long long>(t->file_size),
                 ZANDOR_VERSION);
    separator = "";
    for (int site = 0; site < SITE_COUNT; ++site)
        if (!site_usable(target_site_ofs(t, site))) {
            std::fprintf(out, "%s\"%s\": \"%s\"", separator, patch_catalogue[site].name, absence_code(t->absent[site]));
            separator = ", ";
        }
    std::fputs("}}\n", out);
}
