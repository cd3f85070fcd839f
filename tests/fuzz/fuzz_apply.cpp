// Scan, write arbitrary settings (and now and then offsets that were moved or
// made up), scan again. The file must hold exactly what the writing rules
// say, or be untouched when the writer refuses; only site bytes change, the
// length never does, and every written site reads back as written.

#include <cstring>

#include "fuzz_support.h"
#include "patch/apply_patches.h"

namespace {

int16_t take_year(fuzz_input *in)
{
    uint8_t how = take_u8(in);
    uint32_t raw = take_u16(in);
    // Mostly near the accepted range 2000..29999, now and then anything.
    return static_cast<int16_t>((how & 1) ? raw : 1990 + raw % 28020);
}

int32_t *site_offset(patch_target *t, int site)
{
    switch (site) {
    case SITE_START_YEAR:
        return &t->start_year_ofs;
    case SITE_WC06_FIX:
        return &t->wc06_ofs;
    case SITE_BOSMAN_YEAR:
        return &t->bosman_year_ofs;
    case SITE_CLICK_DELAY:
        return &t->click_delay_ofs;
    case SITE_EXITGAME:
        return &t->exitgame_ofs;
    case SITE_CONF_COUNTS:
        return &t->conf_counts_ofs;
    default:
        return &t->conf_promoted_ofs;
    }
}

struct settings {
    int8_t click_delay;
    int16_t start_year, bosman_year;
    int32_t exit_on, touch;
    int8_t promoted, relegated;
    uint8_t offset_mode[SITE_COUNT];
    int32_t offset_arg[SITE_COUNT];
};

settings take_settings(fuzz_input *in)
{
    settings s{};
    s.click_delay = static_cast<int8_t>(take_u8(in));
    s.start_year = take_year(in);
    s.bosman_year = take_year(in);
    s.exit_on = take_u8(in);
    s.touch = take_u8(in);
    s.promoted = static_cast<int8_t>(take_u8(in));
    s.relegated = static_cast<int8_t>(take_u8(in));
    for (int i = 0; i < SITE_COUNT; ++i) {
        s.offset_mode[i] = take_u8(in);
        s.offset_arg[i] = static_cast<int32_t>(take_u24(in));
    }
    return s;
}

// Sets the choices; returns which sites keep the offset the scan found.
void choose(patch_target *t, const settings &s, bool kept[SITE_COUNT])
{
    t->click_delay = s.click_delay;
    t->start_year = s.start_year;
    t->bosman_year = s.bosman_year;
    t->exitgame_installed = s.exit_on;
    t->touch_conference = s.touch;
    t->promoted = s.promoted;
    t->relegated = s.relegated;
    for (int i = 0; i < SITE_COUNT; ++i) {
        int32_t *ofs = site_offset(t, i);
        kept[i] = true;
        switch (s.offset_mode[i] % 16) {
        case 12:
        case 13:
            *ofs = -1;  // not to be written
            break;
        case 14:
            *ofs += static_cast<int8_t>(s.offset_arg[i]);  // moved a little
            kept[i] = false;
            break;
        case 15:
            *ofs = s.offset_arg[i] % 200000;  // made up
            kept[i] = false;
            break;
        default:
            break;
        }
    }
}

bool sig_before(const bytes &image, const model_write &w)
{
    const site_entry &e = patch_catalogue[w.site];
    const int64_t start = static_cast<int64_t>(w.ofs) - e.sig_len;
    const int64_t end = static_cast<int64_t>(w.ofs) + static_cast<int64_t>(w.data.size());
    if (start < 0 || end > static_cast<int64_t>(image.size()))
        return false;
    if (std::memcmp(image.data() + start, e.sig, static_cast<std::size_t>(e.sig_len)) != 0)
        return false;
    if (e.kind == SITE_KIND_YEAR)
        return true;
    uint8_t first = image[static_cast<std::size_t>(w.ofs)];
    return first == e.patched[0] || first == e.unpatched[0];
}

bool ranges_meet(const model_write &a, const model_write &b)
{
    int64_t a0 = a.ofs - patch_catalogue[a.site].sig_len, a1 = a.ofs + static_cast<int64_t>(a.data.size());
    int64_t b0 = b.ofs - patch_catalogue[b.site].sig_len, b1 = b.ofs + static_cast<int64_t>(b.data.size());
    return a0 < b1 && b0 < a1;
}

bool same_occurrences(const bytes &before, const bytes &after)
{
    for (const site_entry &e : patch_catalogue) {
        auto n = static_cast<std::size_t>(e.sig_len);
        if (reference_search(before, e.sig, n) != reference_search(after, e.sig, n))
            return false;
    }
    return true;
}

// Each written site at its scanned offset reads back as the value written.
void expect_read_back(const patch_target *plan, const patch_target *after, const writer_model &m,
                      const bool kept[SITE_COUNT])
{
    for (const model_write &w : m.writes) {
        if (!kept[w.site])
            continue;
        switch (w.site) {
        case SITE_START_YEAR:
            FUZZ_CHECK(after->start_year_ofs == w.ofs && after->start_year == plan->start_year);
            break;
        case SITE_BOSMAN_YEAR:
            FUZZ_CHECK(after->bosman_year_ofs == w.ofs && after->bosman_year == plan->bosman_year);
            break;
        case SITE_WC06_FIX:
            FUZZ_CHECK(after->wc06_ofs == w.ofs && after->wc06_installed == (plan->start_year >= 2003));
            break;
        case SITE_CLICK_DELAY: {
            int d = plan->click_delay;
            int want = d >= 1 && d <= 6 ? d : (d == 7 || d == 8) ? -2 : -1;
            FUZZ_CHECK(after->click_delay_ofs == w.ofs && after->click_delay == want);
            break;
        }
        case SITE_EXITGAME:
            FUZZ_CHECK(after->exitgame_ofs == w.ofs && after->exitgame_installed == (plan->exitgame_installed != 0));
            break;
        default:
            if (!kept[SITE_CONF_COUNTS] || !kept[SITE_CONF_PROMOTED])
                break;
            if (plan->touch_conference && (plan->promoted < 1 || plan->promoted > 7)) {
                FUZZ_CHECK(after->conf_counts_ofs == -1 && after->conf_promoted_ofs == -1);
                break;
            }
            FUZZ_CHECK(after->conf_counts_ofs == plan->conf_counts_ofs
                       && after->conf_promoted_ofs == plan->conf_promoted_ofs);
            FUZZ_CHECK(after->promoted == (plan->touch_conference ? plan->promoted : 1));
            FUZZ_CHECK(after->relegated == (plan->touch_conference ? plan->relegated : 3));
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz_input in{data, size, 0};
    settings s = take_settings(&in);
    bytes image = build_image(&in);
    const char *path = write_scratch(image, 0);

    std::string diagnostics;
    patch_target *t = scan_path(path, &diagnostics);
    FUZZ_CHECK(t != nullptr, "a regular file was not opened");
    bool kept[SITE_COUNT];
    choose(t, s, kept);
    writer_model m = model_writes(t);

    // What the writer must do, worked out on the whole image.
    bytes applied = image;
    bool recognised = true, apart = true;
    for (std::size_t i = 0; i < m.writes.size(); ++i) {
        const model_write &w = m.writes[i];
        recognised = recognised && sig_before(image, w);
        for (std::size_t j = 0; j < i; ++j)
            apart = apart && !ranges_meet(m.writes[j], w);
        if (sig_before(image, w))
            std::memcpy(applied.data() + w.ofs, w.data.data(), w.data.size());
    }
    bool unchanged_sites = same_occurrences(image, applied);
    bool may_write = recognised && apart && unchanged_sites;

    int result = apply_patches(t);
    bytes after = read_whole(path);
    FUZZ_CHECK(after.size() == image.size(), "the length changed");
    if (!may_write) {
        FUZZ_CHECK((!recognised && result == RESULT_FILE_CHANGED)
                       || ((!apart || !unchanged_sites) && result == RESULT_SITES_CLASH),
                   "a write that had to be refused was not");
        FUZZ_CHECK(after == image, "a refused write changed the file");
        close_target(t);
        return 0;
    }
    FUZZ_CHECK(result == (m.wc06_kept ? RESULT_WC06_KEPT : RESULT_OK), "an unexpected result");
    FUZZ_CHECK(after == applied, "the file does not hold exactly the writes");

    std::string diagnostics_after;
    patch_target *again = scan_path(path, &diagnostics_after);
    FUZZ_CHECK(again != nullptr);
    expect_same_scan(scan_of(again, diagnostics_after), reference_scan(applied));
    expect_read_back(t, again, m, kept);
    close_target(again);
    close_target(t);
    return 0;
}
