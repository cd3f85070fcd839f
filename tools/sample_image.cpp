#include "tools/sample_image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Stands in for the game's own code after the 64 known bytes of the wc06_fix
// block: it goes on filling the stack slots and ends by loading the same
// game word the patched block loads last.
const uint8_t wc06_tail[WC06_BLOCK_LEN - 64] = {
    0x89, 0x94, 0x24, 0xc8, 0x00, 0x00, 0x00, // mov [esp+0xc8], edx
    0x8b, 0x15, 0x48, 0xf4, 0x9c, 0x00,       // mov edx, [0x9cf448]
    0x89, 0x8c, 0x24, 0xcc, 0x00, 0x00, 0x00, // mov [esp+0xcc], ecx
    0x8b, 0x0d, 0x4c, 0xf4, 0x9c, 0x00,       // mov ecx, [0x9cf44c]
    0x89, 0x94, 0x24, 0xd0, 0x00, 0x00, 0x00, // mov [esp+0xd0], edx
    0x89, 0x8c, 0x24, 0xd4, 0x00, 0x00, 0x00, // mov [esp+0xd4], ecx
    0x8b, 0x15, 0xfc, 0xf2, 0x9c, 0x00,       // mov edx, [0x9cf2fc]
};

// Bytes after a year: the high half of the pushed immediate.
constexpr int32_t YEAR_TAIL_LEN = 2;
// Room the maker leaves between sites it places itself, so that filler
// separates them and can be adjusted if the two ever form a signature.
constexpr int64_t AUTO_GAP = 16;
constexpr int MAX_REGIONS = 2 * SITE_COUNT;
constexpr int MAX_FIX_PASSES = 64;

struct region {
    int64_t at;
    int64_t len;
    int site;
    int copy;  // 0, or 1 for the second copy of a duplicated site
};

struct region_set {
    region r[MAX_REGIONS];
    int count;
};

bool is_year(int site)
{
    return patch_catalogue[site].kind == SITE_KIND_YEAR;
}

// Signature, then the year with its high half or the whole block.
int64_t full_len(int site)
{
    const site_entry &e = patch_catalogue[site];
    return e.sig_len + e.block_len + (is_year(site) ? YEAR_TAIL_LEN : 0);
}

// Writes what a site in `s` holds, from the signature on, into `out`
// (room for full_len bytes).
void site_content(int site, const sample_site &s, uint8_t *out)
{
    const site_entry &e = patch_catalogue[site];
    std::memcpy(out, e.sig, static_cast<size_t>(e.sig_len));
    uint8_t *block = out + e.sig_len;
    if (is_year(site)) {
        block[0] = static_cast<uint8_t>(s.param & 0xff);
        block[1] = static_cast<uint8_t>((s.param >> 8) & 0xff);
        block[2] = 0;
        block[3] = 0;
        return;
    }
    if (s.state == SAMPLE_PATCHED) {
        std::memcpy(block, e.patched, static_cast<size_t>(e.block_len));
        for (int k = 0; k < e.param_count; ++k)
            block[e.params[k].pos] = static_cast<uint8_t>(k == 0 ? s.param : s.param2);
        return;
    }
    std::memcpy(block, e.unpatched, static_cast<size_t>(e.unpatched_known));
    if (site == SITE_WC06_FIX)
        std::memcpy(block + e.unpatched_known, wc06_tail, sizeof wc06_tail);
    if (s.state == SAMPLE_UNRECOGNISED)
        block[0] = s.first_byte;
}

bool overlaps(const region &r, int64_t at, int64_t len, int64_t gap)
{
    return at < r.at + r.len + gap && r.at < at + len + gap;
}

const region *first_conflict(const region_set &set, int64_t at, int64_t len, int64_t gap)
{
    for (int i = 0; i < set.count; ++i)
        if (overlaps(set.r[i], at, len, gap))
            return &set.r[i];
    return nullptr;
}

bool add_region(region_set *set, int64_t at, int64_t len, int site, int copy)
{
    if (first_conflict(*set, at, len, 0) != nullptr)
        return false;
    set->r[set->count++] = region{at, len, site, copy};
    return true;
}

// A free place for `len` bytes near `target`: first at or after it, then
// before it. -1 when there is none.
int64_t find_spot(const region_set &set, int64_t target, int64_t len, int64_t size,
                  int64_t gap)
{
    for (int64_t p = target; p >= 0 && p + len <= size;) {
        const region *c = first_conflict(set, p, len, gap);
        if (c == nullptr)
            return p;
        p = c->at + c->len + gap;
    }
    for (int64_t p = target; p >= 0 && p + len <= size;) {
        const region *c = first_conflict(set, p, len, gap);
        if (c == nullptr)
            return p;
        p = c->at - gap - len;
    }
    return -1;
}

bool state_fits(int site, sample_state state)
{
    switch (state) {
    case SAMPLE_ABSENT:
    case SAMPLE_GAME:
    case SAMPLE_PATCHED:
    case SAMPLE_DUPLICATED:
    case SAMPLE_TRUNCATED:
        return true;
    case SAMPLE_UNRECOGNISED:
        return !is_year(site);
    }
    return false;
}

// Places a truncated site: its signature whole, its block cut by the file end.
bool place_truncated(region_set *set, int site, sample_site *s, int64_t size)
{
    const site_entry &e = patch_catalogue[site];
    if (s->at == -1)
        s->at = size - e.sig_len - (e.block_len > 2 ? e.block_len / 2 : 1);
    if (s->at < 0 || s->at + e.sig_len > size || s->at + e.sig_len + e.block_len <= size)
        return false;
    return add_region(set, s->at, size - s->at, site, 0);
}

int layout(const sample_recipe *recipe, sample_recipe *placed, region_set *set)
{
    *placed = *recipe;
    set->count = 0;
    const int64_t size = recipe->size;
    if (size < 0 || size > INT32_MAX)
        return -1;

    // Sites at offsets the caller chose come first; the others fill the gaps.
    int64_t *pending[MAX_REGIONS];
    int pending_site[MAX_REGIONS];
    int pending_copy[MAX_REGIONS];
    int npending = 0;
    for (int site = 0; site < SITE_COUNT; ++site) {
        sample_site *s = &placed->site[site];
        if (!state_fits(site, s->state))
            return -1;
        if (s->state == SAMPLE_ABSENT)
            continue;
        if (s->state == SAMPLE_TRUNCATED) {
            if (!place_truncated(set, site, s, size))
                return -1;
            continue;
        }
        int copies = s->state == SAMPLE_DUPLICATED ? 2 : 1;
        for (int copy = 0; copy < copies; ++copy) {
            int64_t *at = copy == 0 ? &s->at : &s->at2;
            if (*at == -1) {
                pending[npending] = at;
                pending_site[npending] = site;
                pending_copy[npending] = copy;
                ++npending;
                continue;
            }
            if (*at < 0 || *at + full_len(site) > size)
                return -1;
            if (!add_region(set, *at, full_len(site), site, copy))
                return -1;
        }
    }

    // Spread evenly over the file, so sites land in different windows.
    for (int k = 0; k < npending; ++k) {
        int64_t len = full_len(pending_site[k]);
        int64_t target = size / (npending + 1) * (k + 1) - len / 2;
        if (target < 0)
            target = 0;
        if (target + len > size)
            target = size - len;
        int64_t at = find_spot(*set, target, len, size, AUTO_GAP);
        if (at < 0)
            at = find_spot(*set, target, len, size, 0);
        if (at < 0)
            return -1;
        *pending[k] = at;
        add_region(set, at, len, pending_site[k], pending_copy[k]);
    }
    return 0;
}

uint64_t splitmix64(uint64_t *state)
{
    uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

void fill_random(uint8_t *buf, int64_t size, uint32_t seed)
{
    uint64_t state = seed;
    int64_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t v = splitmix64(&state);
        std::memcpy(buf + i, &v, 8);
    }
    uint64_t v = splitmix64(&state);
    for (; i < size; ++i, v >>= 8)
        buf[i] = static_cast<uint8_t>(v);
}

void fill_repeated(uint8_t *buf, int64_t size, const uint8_t *filler, int64_t len)
{
    for (int64_t i = 0; i < size; i += len)
        std::memcpy(buf + i, filler, static_cast<size_t>(size - i < len ? size - i : len));
}

bool in_region(const region_set &set, int64_t at)
{
    return first_conflict(set, at, 1, 0) != nullptr;
}

bool expected_at(const region_set &set, int site, int64_t at)
{
    for (int i = 0; i < set.count; ++i)
        if (set.r[i].site == site && set.r[i].at == at)
            return true;
    return false;
}

// Changes one filler byte of every signature occurrence that is not a placed
// site. 1 when something changed, 0 when the image is clean, -1 when an
// occurrence lies wholly inside placed sites and so cannot be broken.
int break_stray_signatures(uint8_t *buf, int64_t size, const region_set &set,
                           uint64_t *rng)
{
    uint8_t starts[256] = {};
    for (int site = 0; site < SITE_COUNT; ++site)
        starts[patch_catalogue[site].sig[0]] |= static_cast<uint8_t>(1u << site);

    int changed = 0;
    for (int64_t i = 0; i < size; ++i) {
        uint8_t mask = starts[buf[i]];
        if (mask == 0)
            continue;
        for (int site = 0; site < SITE_COUNT; ++site) {
            const site_entry &e = patch_catalogue[site];
            if ((mask & (1u << site)) == 0 || i + e.sig_len > size
                || std::memcmp(buf + i, e.sig, static_cast<size_t>(e.sig_len)) != 0
                || expected_at(set, site, i))
                continue;
            int64_t j = i;
            while (j < i + e.sig_len && in_region(set, j))
                ++j;
            if (j == i + e.sig_len)
                return -1;
            buf[j] = static_cast<uint8_t>(buf[j] + 1 + splitmix64(rng) % 255);
            changed = 1;
        }
    }
    return changed;
}

int write_whole(const char *path, const uint8_t *buf, int64_t size)
{
    std::FILE *f = std::fopen(path, "wb");
    if (f == nullptr)
        return -1;
    size_t n = size > 0 ? std::fwrite(buf, 1, static_cast<size_t>(size), f) : 0;
    int flushed = std::fflush(f);
    int closed = std::fclose(f);
    if (n != static_cast<size_t>(size) || flushed != 0 || closed != 0) {
        std::remove(path);
        return -1;
    }
    return 0;
}

} // namespace

void sample_defaults(sample_recipe *recipe, int64_t size)
{
    recipe->size = size;
    recipe->seed = 1;
    recipe->filler = nullptr;
    recipe->filler_len = 0;
    for (int site = 0; site < SITE_COUNT; ++site) {
        sample_site &s = recipe->site[site];
        s.state = SAMPLE_GAME;
        s.at = -1;
        s.at2 = -1;
        s.param = 0;
        s.param2 = 0;
        // Neither variant's byte 0 at any block site.
        s.first_byte = 0xcc;
    }
    recipe->site[SITE_START_YEAR].param = 2001;
    recipe->site[SITE_BOSMAN_YEAR].param = 2002;
    recipe->site[SITE_CLICK_DELAY].param = 5;
    recipe->site[SITE_CONF_COUNTS].param = 1;
    recipe->site[SITE_CONF_COUNTS].param2 = 3;
    recipe->site[SITE_CONF_PROMOTED].param = 1;
}

int sample_layout(const sample_recipe *recipe, sample_recipe *placed)
{
    region_set set;
    return layout(recipe, placed, &set);
}

int sample_write(const char *path, const sample_recipe *recipe)
{
    sample_recipe placed;
    region_set set;
    if (layout(recipe, &placed, &set) != 0)
        return -1;

    const int64_t size = placed.size;
    uint8_t *buf = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(size > 0 ? size : 1)));
    if (buf == nullptr)
        return -1;
    if (placed.filler != nullptr && placed.filler_len > 0)
        fill_repeated(buf, size, placed.filler, placed.filler_len);
    else
        fill_random(buf, size, placed.seed);

    uint8_t content[MAX_SIG_LEN + MAX_BLOCK_LEN + YEAR_TAIL_LEN];
    for (int i = 0; i < set.count; ++i) {
        const region &r = set.r[i];
        site_content(r.site, placed.site[r.site], content);
        // A truncated site's region stops at the end of the file.
        int64_t n = r.len < full_len(r.site) ? r.len : full_len(r.site);
        std::memcpy(buf + r.at, content, static_cast<size_t>(n));
    }

    uint64_t rng = placed.seed ^ 0xa5a5a5a5u;
    int result = -1;
    for (int pass = 0; pass < MAX_FIX_PASSES; ++pass) {
        int changed = break_stray_signatures(buf, size, set, &rng);
        if (changed < 0)
            break;
        if (changed == 0) {
            result = write_whole(path, buf, size);
            break;
        }
    }
    std::free(buf);
    return result;
}

const uint8_t *sample_wc06_tail()
{
    return wc06_tail;
}
