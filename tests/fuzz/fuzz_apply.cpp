// Scan (every field against the reference classifier's, on images holding
// sites in every state, at window edges, cut off by the end of the file,
// duplicated, overlapping and as signature fragments), write arbitrary
// settings (now and then at offsets dropped, moved or made up), scan again.
// The writer must write exactly what the writing rules say, or nothing when
// a site is not where the scan offered it or a write would make or break any
// signature occurrence, after any piece; the file keeps its length, and the
// second scan is the reference's of the written image.

#include <algorithm>

#include "fuzz.h"
#include "patch/apply_patches.h"

namespace {

// What choose() takes from the front of the input; the image follows.
constexpr std::size_t SETTINGS_LEN = 39;

int16_t take_year(fuzz_input *in)
{
    const uint32_t how = take(in, 1), raw = take(in, 2);
    // Mostly near the years written (2000..29999), now and then anything.
    return static_cast<int16_t>(how & 1 ? raw : 1990 + raw % 28020);
}

void choose(patch_target *t, fuzz_input *in)
{
    // In this order: the input's settings bytes are laid out so.
    t->click_delay = static_cast<int8_t>(take(in, 1));
    t->start_year = take_year(in);
    t->bosman_year = take_year(in);
    t->exitgame_installed = static_cast<int32_t>(take(in, 1)), t->touch_conference = static_cast<int32_t>(take(in, 1));
    t->promoted = static_cast<int8_t>(take(in, 1)), t->relegated = static_cast<int8_t>(take(in, 1));
    for (const site_entry &e : patch_catalogue) {
        int32_t &o = t->*e.ofs;
        const uint32_t how = take(in, 1) % 16, arg = take(in, 3);
        o = how == 12 || how == 13 ? -1
            : how == 14            ? o + static_cast<int8_t>(arg)       // moved a little
            : how == 15            ? static_cast<int32_t>(arg % 200000)  // made up
                                   : o;
    }
}

struct model_write {
    int site;
    int32_t ofs;
    bytes data;
};

// The writes `t` asks for, from the writing rules alone.
std::vector<model_write> model_writes(const patch_target *t, const bytes &image)
{
    std::vector<model_write> m;
    const site_entry *e = patch_catalogue;
    auto block = [&](int site, int32_t ofs, bool ours, int8_t v = 0, int8_t v2 = 0) {
        const uint8_t *b = ours ? e[site].patched : e[site].unpatched;
        m.push_back({site, ofs, bytes(b, b + e[site].block_len)});
        for (int k = 0; ours && k < e[site].param_count; ++k)
            m.back().data[param_pos(site, k)] = static_cast<uint8_t>(k == 0 ? v : v2);
    };
    auto year = [&](int site, int32_t ofs, int16_t y) {
        if (ofs > 0 && y >= 2000 && y < 30000)
            m.push_back({site, ofs, {static_cast<uint8_t>(y), static_cast<uint8_t>(y >> 8)}});
        return ofs > 0 && y >= 2000 && y < 30000;
    };
    if (t->click_delay_ofs > 0)
        block(SITE_CLICK_DELAY, t->click_delay_ofs, t->click_delay >= 1 && t->click_delay <= 8, t->click_delay);
    year(SITE_BOSMAN_YEAR, t->bosman_year_ofs, t->bosman_year);
    const bool wc06 = year(SITE_START_YEAR, t->start_year_ofs, t->start_year) && t->wc06_ofs > 0;
    if (wc06 && t->start_year >= 2003)
        block(SITE_WC06_FIX, t->wc06_ofs, true);
    else if (wc06 && t->wc06_original_known)
        m.push_back({SITE_WC06_FIX, t->wc06_ofs, bytes(t->wc06_original, t->wc06_original + WC06_BLOCK_LEN)});
    if (t->exitgame_ofs > 0)
        block(SITE_EXITGAME, t->exitgame_ofs, t->exitgame_installed != 0);
    // Our promoted block goes out before the counts change and comes back
    // after them, unless it holds already what it is to hold.
    if (t->conf_promoted_ofs > 0 && t->conf_counts_ofs > 0) {
        block(SITE_CONF_PROMOTED, t->conf_promoted_ofs, false);
        block(SITE_CONF_COUNTS, t->conf_counts_ofs, t->touch_conference != 0, t->promoted, t->relegated);
        if (t->touch_conference != 0)
            block(SITE_CONF_PROMOTED, t->conf_promoted_ofs, true, t->promoted);
        const model_write &last = m.back();
        if (t->touch_conference != 0 && last.ofs + last.data.size() <= image.size()
            && std::equal(last.data.begin(), last.data.end(), image.begin() + last.ofs))
            m.erase(m.end() - 3);
    }
    return m;
}

// The pieces a write goes out in, [from, to) in the file, in order: each
// within one 512-byte sector, and in a block byte 0 alone, last when it
// makes the block ours, else first.
std::vector<std::pair<int64_t, int64_t>> pieces(const model_write &w)
{
    std::vector<std::pair<int64_t, int64_t>> out;
    const int64_t from = w.ofs, to = w.ofs + static_cast<int64_t>(w.data.size());
    const bool block = w.site != SITE_START_YEAR && w.site != SITE_BOSMAN_YEAR;
    const bool ours_last = block && w.data[0] == patch_catalogue[w.site].patched[0];
    if (block && !ours_last)
        out.emplace_back(from, from + 1);
    for (int64_t at = block ? from + 1 : from; at < to; at = std::min(to, (at / 512 + 1) * 512))
        out.emplace_back(at, std::min(to, (at / 512 + 1) * 512));
    if (ours_last)
        out.emplace_back(from, from + 1);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz_input settings{data, std::min(size, SETTINGS_LEN), 0};
    fuzz_input in{data, size, settings.size};
    const bytes image = build_image(&in);
    const char *path = scratch_file(image);
    patch_target *t = scan_checked(path, image);
    const patch_target scanned = *t;
    choose(t, &settings);
    const std::vector<model_write> m = model_writes(t, image);

    // What the file must hold: each write where the scan offered its site
    // (and so apart from the others), and no state on the way, after any
    // piece, making or breaking a signature.
    bytes applied = image;
    bool recognised = true, same_signatures = true;
    for (const model_write &w : m)
        recognised = recognised && w.ofs == target_site_ofs(&scanned, w.site);
    for (std::size_t i = 0; i < m.size() && recognised; ++i)
        for (const auto &[from, to] : pieces(m[i])) {
            std::copy(m[i].data.begin() + (from - m[i].ofs), m[i].data.begin() + (to - m[i].ofs), applied.begin() + from);
            for (const site_entry &e : patch_catalogue)
                same_signatures = same_signatures && reference_search(image, bytes(e.sig, e.sig + e.sig_len))
                                                         == reference_search(applied, bytes(e.sig, e.sig + e.sig_len));
        }
    const patch_result want = !recognised        ? RESULT_FILE_CHANGED
                              : !same_signatures ? RESULT_SITES_CLASH
                                                 : RESULT_OK;
    fuzz_check(apply_patches(t) == want, "the writer's result is not the one the rules give");
    const bool written = want == RESULT_OK;
    fuzz_check(read_file(path) == (written ? applied : image), "the file does not hold exactly the writes");
    if (written)
        close_target(scan_checked(path, applied));
    close_target(t);
    return 0;
}
