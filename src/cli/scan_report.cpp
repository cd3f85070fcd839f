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
        char state[96];
        int32_t ofs = target_site_ofs(t, site);
        if (site_usable(ofs))
            std::snprintf(where, sizeof where, "0x%08x (%d)", static_cast<unsigned>(ofs), ofs);
        site_state_words(t, site, state, sizeof state);
        std::fprintf(out, "%-14s  %-23s  %s\n", patch_catalogue[site].name, where, state);
    }
}

namespace {

// How many bytes from `s` on make one well-formed UTF-8 character; 0 when
// they make none.
int utf8_length(const unsigned char *s)
{
    const unsigned c = s[0];
    // Lead bytes, with the range the first continuation byte must lie in
    // (no overlong forms, no surrogates, nothing above U+10FFFF).
    const struct {
        unsigned lead_min, lead_max;
        int length;
        unsigned next_min, next_max;
    } forms[] = {
        {0xc2, 0xdf, 2, 0x80, 0xbf}, {0xe0, 0xe0, 3, 0xa0, 0xbf}, {0xe1, 0xec, 3, 0x80, 0xbf},
        {0xed, 0xed, 3, 0x80, 0x9f}, {0xee, 0xef, 3, 0x80, 0xbf}, {0xf0, 0xf0, 4, 0x90, 0xbf},
        {0xf1, 0xf3, 4, 0x80, 0xbf}, {0xf4, 0xf4, 4, 0x80, 0x8f},
    };
    if (c < 0x80)
        return 1;
    for (const auto &f : forms) {
        if (c < f.lead_min || c > f.lead_max)
            continue;
        if (s[1] < f.next_min || s[1] > f.next_max)
            return 0;
        for (int i = 2; i < f.length; ++i)
            if (s[i] < 0x80 || s[i] > 0xbf)
                return 0;
        return f.length;
    }
    return 0;
}

} // namespace

void print_json_string(std::FILE *out, const char *s)
{
    std::fputc('"', out);
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    while (*p != '\0') {
        const int n = utf8_length(p);
        if (*p == '"' || *p == '\\')
            std::fprintf(out, "\\%c", *p);
        else if (*p < 0x20 || n == 0)
            std::fprintf(out, "\\u%04x", *p);  // a byte that is no UTF-8: as Latin-1
        else
            std::fwrite(p, 1, static_cast<std::size_t>(n), out);
        p += n > 0 ? n : 1;
    }
    std::fputc('"', out);
}

void print_json_size(std::FILE *out, int64_t size)
{
    if (size < 0)
        std::fputs(", \"size\": null", out);
    else
        std::fprintf(out, ", \"size\": %lld", static_cast<long long>(size));
}

void print_scan_json(std::FILE *out, const char *file, const patch_target *t, backup_beside bak)
{
    // The record's fields by their names: each site's offset and its own
    // value, then the conference pair's.
    const char *separator = "{";
    for (const site_entry &e : patch_catalogue) {
        std::fprintf(out, "%s\"%s\": %ld", separator, e.ofs_field, static_cast<long>(t->*e.ofs));
        separator = ", ";
        if (e.value_field == nullptr)
            continue;
        const long value = e.year != nullptr ? t->*e.year : e.installed != nullptr ? t->*e.installed : t->*e.params[0].field;
        std::fprintf(out, ", \"%s\": %ld", e.value_field, value);
    }
    const struct {
        const char *key;
        long value;
    } pair_fields[] = {
        {"promoted", t->promoted},
        {"relegated", t->relegated},
        {"touch_conference", t->touch_conference},
        {"conf_installed", t->conf_installed},
    };
    for (const auto &f : pair_fields)
        std::fprintf(out, ", \"%s\": %ld", f.key, f.value);
    std::fputs(", \"path\": ", out);
    print_json_string(out, file);
    print_json_size(out, t->file_size);
    std::fprintf(out, ", \"version\": \"%s\", \"absent\": {", ZANDOR_VERSION);
    separator = "";
    for (int site = 0; site < SITE_COUNT; ++site)
        if (!site_usable(target_site_ofs(t, site))) {
            std::fprintf(out, "%s\"%s\": \"%s\"", separator, patch_catalogue[site].name, absence_code(t->absent[site]));
            separator = ", ";
        }
    std::fputs("}, \"damaged\": [", out);
    separator = "";
    for (int site = 0; site < SITE_COUNT; ++site)
        if (site_damaged(t, site)) {
            std::fprintf(out, "%s\"%s\"", separator, patch_catalogue[site].name);
            separator = ", ";
        }
    const char *const backup_words[] = {"null", "\"verified\"", "\"not_verified\""};
    std::fprintf(out, "], \"backup\": %s}\n", backup_words[bak]);
}
