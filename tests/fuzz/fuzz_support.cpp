#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void fuzz_fail(const char *cond, const char *file, int line, const char *what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s %s\n", file, line, cond, what);
    std::abort();
}

uint8_t take_u8(fuzz_input *in)
{
    return in->pos < in->size ? in->data[in->pos++] : 0;
}

uint32_t take_u16(fuzz_input *in)
{
    uint32_t lo = take_u8(in);
    return lo | (static_cast<uint32_t>(take_u8(in)) << 8);
}

uint32_t take_u24(fuzz_input *in)
{
    uint32_t lo = take_u16(in);
    return lo | (static_cast<uint32_t>(take_u8(in)) << 16);
}

uint32_t take_u32(fuzz_input *in)
{
    uint32_t lo = take_u16(in);
    return lo | (take_u16(in) << 16);
}

std::size_t input_left(const fuzz_input *in)
{
    return in->size - in->pos;
}

namespace {

constexpr int64_t W = 65536;

// What a planted piece holds.
enum plant_kind : int {
    PLANT_GAME,        // signature and the game's block (a year site: the year)
    PLANT_PATCHED,     // signature and our block with the parameters
    PLANT_BYTE0,       // signature and the game's block with byte 0 chosen
    PLANT_SIG,         // the signature alone
    PLANT_SIG_PREFIX,  // its first bytes only: a near miss
    PLANT_SIG_SUFFIX,  // its last bytes only: completed by what lies before
    PLANT_KIND_COUNT
};

// Where it goes.
enum anchor_kind : int {
    ANCHOR_ANYWHERE,
    ANCHOR_WINDOW_EDGE,  // around 64 KiB or 128 KiB
    ANCHOR_FILE_END,     // the end of the piece at the end of the file, moved a little
    ANCHOR_AFTER_PREV,   // just after the previous piece
    ANCHOR_IN_PREV,      // over the previous piece's block
    ANCHOR_COUNT
};

bytes planted_piece(int site, plant_kind kind, uint8_t p0, uint8_t p1, int32_t *sig_part)
{
    const site_entry &e = patch_catalogue[site];
    const auto L = static_cast<std::size_t>(e.sig_len);
    bytes piece;
    if (kind == PLANT_SIG_PREFIX) {
        piece.assign(e.sig, e.sig + 1 + p1 % (L - 1));
        *sig_part = static_cast<int32_t>(piece.size());
        return piece;
    }
    if (kind == PLANT_SIG_SUFFIX) {
        piece.assign(e.sig + 1 + p1 % (L - 1), e.sig + L);
        *sig_part = static_cast<int32_t>(piece.size());
        return piece;
    }
    piece.assign(e.sig, e.sig + L);
    *sig_part = e.sig_len;
    if (kind == PLANT_SIG)
        return piece;
    if (e.kind == SITE_KIND_YEAR) {
        piece.push_back(p0);
        piece.push_back(p1);
        return piece;
    }
    std::size_t at = piece.size();
    if (kind == PLANT_PATCHED) {
        piece.insert(piece.end(), e.patched, e.patched + e.block_len);
        if (site == SITE_CLICK_DELAY)
            piece[at + CLICK_DELAY_PARAM_POS] = p0;
        if (site == SITE_CONF_COUNTS) {
            piece[at + CONF_COUNTS_PROMOTED_POS] = p0;
            piece[at + CONF_COUNTS_RELEGATED_POS] = p1;
        }
        if (site == SITE_CONF_PROMOTED)
            piece[at + CONF_PROMOTED_PARAM_POS] = p0;
        return piece;
    }
    // Only the known part of the game's block; the rest is what lies there.
    piece.insert(piece.end(), e.unpatched, e.unpatched + e.unpatched_known);
    if (kind == PLANT_BYTE0)
        piece[at] = p0;
    return piece;
}

uint64_t next_random(uint64_t *state)
{
    uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

void fill(bytes &image, int mode, fuzz_input *in)
{
    switch (mode) {
    case 0:
        break;  // zeros: the wc06_fix signature starts with two of them
    case 1:
        image.assign(image.size(), 0x90);  // NOPs, as in several signatures
        break;
    case 2: {
        uint64_t state = take_u32(in);
        for (uint8_t &b : image)
            b = static_cast<uint8_t>(next_random(&state));
        break;
    }
    default: {
        uint8_t pattern[8];
        std::size_t n = 1 + take_u8(in) % sizeof pattern;
        for (std::size_t i = 0; i < n; ++i)
            pattern[i] = take_u8(in);
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = pattern[i % n];
        break;
    }
    }
}

} // namespace

bytes build_image(fuzz_input *in)
{
    uint8_t mode = take_u8(in);
    if (mode >= 0xe0)
        return bytes(in->data + in->pos, in->data + in->size);

    int64_t size = 0;
    switch (mode % 4) {
    case 0:
        size = take_u8(in) % 128;  // shorter than some or all signatures
        break;
    case 1:
        size = take_u16(in) % 8192;
        break;
    case 2:
        size = W - 1024 + take_u16(in) % 2048;
        break;
    default:
        size = 2 * W - 1024 + take_u16(in) % 2048;
        break;
    }
    bytes image(static_cast<std::size_t>(size), 0);
    fill(image, (mode / 4) % 4, in);

    int64_t prev_end = 0, prev_site = 0;
    int pieces = take_u8(in) % 17;
    for (int i = 0; i < pieces && input_left(in) > 0; ++i) {
        int site = take_u8(in) % SITE_COUNT;
        auto kind = static_cast<plant_kind>(take_u8(in) % PLANT_KIND_COUNT);
        auto anchor = static_cast<anchor_kind>(take_u8(in) % ANCHOR_COUNT);
        auto delta = static_cast<int8_t>(take_u8(in));
        uint8_t p0 = take_u8(in);
        uint8_t p1 = take_u8(in);
        int32_t sig_part = 0;
        bytes piece = planted_piece(site, kind, p0, p1, &sig_part);
        const auto len = static_cast<int64_t>(piece.size());
        int64_t start = 0;
        switch (anchor) {
        case ANCHOR_ANYWHERE:
            start = size > 0 ? take_u24(in) % size : 0;
            break;
        case ANCHOR_WINDOW_EDGE:
            start = W * (1 + take_u8(in) % 2) - sig_part + delta;
            break;
        case ANCHOR_FILE_END:
            start = size - len + delta;
            break;
        case ANCHOR_AFTER_PREV:
            start = prev_end + delta;
            break;
        default:
            start = prev_site + delta;
            break;
        }
        for (int64_t k = 0; k < len; ++k)
            if (start + k >= 0 && start + k < size)
                image[static_cast<std::size_t>(start + k)] = piece[static_cast<std::size_t>(k)];
        prev_end = start + len;
        prev_site = start + sig_part;
    }
    return image;
}

namespace {

std::string scratch_dir()
{
    struct stat st;
    if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    const char *tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

constexpr int SCRATCH_SLOTS = 4;
std::string scratch_paths[SCRATCH_SLOTS];

void remove_scratch()
{
    for (const std::string &p : scratch_paths)
        if (!p.empty())
            std::remove(p.c_str());
}

} // namespace

const char *write_scratch(const bytes &data, int slot)
{
    FUZZ_CHECK(slot >= 0 && slot < SCRATCH_SLOTS);
    std::string &path = scratch_paths[slot];
    if (path.empty()) {
        static bool registered = false;
        if (!registered)
            registered = std::atexit(remove_scratch) == 0;
        path = scratch_dir() + "/zandor-fuzz-" + std::to_string(getpid()) + "-" + std::to_string(slot);
    }
    std::FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr, "cannot create the scratch file");
    std::size_t n = data.empty() ? 0 : std::fwrite(data.data(), 1, data.size(), f);
    bool closed = std::fclose(f) == 0;
    FUZZ_CHECK(n == data.size() && closed, "cannot write the scratch file");
    return path.c_str();
}

bytes read_whole(const char *path)
{
    bytes data;
    std::FILE *f = std::fopen(path, "rb");
    FUZZ_CHECK(f != nullptr, "cannot read back the scratch file");
    uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    return data;
}

// Called seven times over every image: its own bounds are plain (i + len
// never passes the end), so the sanitizer's checks of each byte are spared.
__attribute__((no_sanitize("address"))) std::vector<int64_t> reference_search(const bytes &image,
                                                                               const uint8_t *sig,
                                                                               std::size_t len)
{
    std::vector<int64_t> hits;
    const int64_t limit = image.size() < INT32_MAX ? static_cast<int64_t>(image.size()) : INT32_MAX;
    for (int64_t i = 0; i + static_cast<int64_t>(len) <= limit; ++i) {
        std::size_t k = 0;
        while (k < len && image[static_cast<std::size_t>(i) + k] == sig[k])
            ++k;
        if (k == len)
            hits.push_back(i);
    }
    return hits;
}

namespace {

// The scan table: what follows each signature and what byte 0 tells.
struct site_rule {
    int32_t block_len;
    int unpatched0;  // -1 for a year site
    int patched0;
};

const site_rule rules[SITE_COUNT] = {
    {2, -1, -1},        // start_year
    {110, 0x8b, 0xb2},  // wc06_fix
    {2, -1, -1},        // bosman_year
    {29, 0x66, 0x85},   // click_delay
    {5, 0x8d, 0xe9},    // exitgame
    {24, 0x88, 0xc7},   // conf_counts
    {25, 0x88, 0xc7},   // conf_promoted
};

struct where {
    int64_t first, second;
    int64_t ofs;  // -1 unless usable
};

int32_t le16(const bytes &b, int64_t at)
{
    return static_cast<int16_t>(b[static_cast<std::size_t>(at)] | (b[static_cast<std::size_t>(at) + 1] << 8));
}

std::string line(const char *format, long long a, long long b)
{
    char buf[100];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

} // namespace

scan_result reference_scan(const bytes &image)
{
    const auto size = static_cast<int64_t>(image.size());
    where w[SITE_COUNT];
    for (int s = 0; s < SITE_COUNT; ++s) {
        const site_entry &e = patch_catalogue[s];
        std::vector<int64_t> hits = reference_search(image, e.sig, static_cast<std::size_t>(e.sig_len));
        w[s].first = hits.empty() ? -1 : hits[0];
        w[s].second = hits.size() < 2 ? -1 : hits[1];
        int64_t end = w[s].first + e.sig_len + rules[s].block_len;
        // Exactly once, with the whole block inside the file and in reach of a signed 32-bit offset.
        w[s].ofs = hits.size() == 1 && end <= size && end <= INT32_MAX ? w[s].first + e.sig_len : -1;
    }
    // Sites that share bytes are no sites at all: writing one would change the other.
    bool clash[SITE_COUNT] = {};
    for (int a = 0; a < SITE_COUNT; ++a)
        for (int b = 0; b < SITE_COUNT; ++b)
            if (a != b && w[a].ofs > 0 && w[b].ofs > 0 && w[a].first < w[b].ofs + rules[b].block_len
                && w[b].first < w[a].ofs + rules[a].block_len)
                clash[a] = true;
    for (int s = 0; s < SITE_COUNT; ++s)
        if (clash[s])
            w[s].ofs = -1;

    scan_result r{-1, -1, -1, -1, -1, -1, -1, 0, 0, -1, 0, 0, 1, 3, 0, 0, {}, {}};
    auto at = [&](int64_t ofs) { return static_cast<int>(image[static_cast<std::size_t>(ofs)]); };

    if (w[SITE_START_YEAR].ofs > 0) {
        r.start_year_ofs = static_cast<int32_t>(w[SITE_START_YEAR].ofs);
        r.start_year = le16(image, w[SITE_START_YEAR].ofs);
    }
    if (int64_t o = w[SITE_WC06_FIX].ofs; o > 0) {
        if (at(o) == rules[SITE_WC06_FIX].patched0) {
            r.wc06_ofs = static_cast<int32_t>(o);
            r.wc06_installed = 1;
        } else if (at(o) == rules[SITE_WC06_FIX].unpatched0) {
            r.wc06_ofs = static_cast<int32_t>(o);
            r.wc06_original_known = 1;
            r.wc06_original.assign(image.begin() + o, image.begin() + o + 110);
        }
    }
    if (w[SITE_BOSMAN_YEAR].ofs > 0) {
        r.bosman_year_ofs = static_cast<int32_t>(w[SITE_BOSMAN_YEAR].ofs);
        r.bosman_year = le16(image, w[SITE_BOSMAN_YEAR].ofs);
    }
    if (int64_t o = w[SITE_CLICK_DELAY].ofs; o > 0) {
        if (at(o) == rules[SITE_CLICK_DELAY].patched0) {
            int delay = at(o + 25);
            r.click_delay_ofs = static_cast<int32_t>(o);
            r.click_delay = delay >= 1 && delay <= 6 ? delay : -2;
        } else if (at(o) == rules[SITE_CLICK_DELAY].unpatched0) {
            r.click_delay_ofs = static_cast<int32_t>(o);
            r.click_delay = -1;
        } else {
            r.click_delay = -2;  // unknown code: never written over
        }
    }
    if (int64_t o = w[SITE_EXITGAME].ofs; o <= 0) {
        r.diagnostics += line("exitgame: ofs = %lld, ofs2 = %lld\n", w[SITE_EXITGAME].first, w[SITE_EXITGAME].second);
    } else if (at(o) == rules[SITE_EXITGAME].patched0) {
        r.exitgame_ofs = static_cast<int32_t>(o);
        r.exitgame_installed = 1;
    } else if (at(o) == rules[SITE_EXITGAME].unpatched0) {
        r.exitgame_ofs = static_cast<int32_t>(o);
    } else {
        char buf[64];
        std::snprintf(buf, sizeof buf, "First byte after exit fix is %02X\n", at(o));
        r.diagnostics += buf;
    }
    if (int64_t o = w[SITE_CONF_COUNTS].ofs; o > 0) {
        if (at(o) == rules[SITE_CONF_COUNTS].unpatched0) {
            r.conf_counts_ofs = static_cast<int32_t>(o);
            r.relegated = 3;
        } else if (at(o) == rules[SITE_CONF_COUNTS].patched0) {
            r.conf_counts_ofs = static_cast<int32_t>(o);
            r.relegated = static_cast<int8_t>(at(o + 9));
        }
    }
    if (int64_t o = w[SITE_CONF_PROMOTED].ofs; o <= 0) {
        r.conf_counts_ofs = -1;
    } else {
        bool usable = false;
        if (at(o) == rules[SITE_CONF_PROMOTED].unpatched0) {
            r.promoted = 1;
            usable = true;
        } else if (at(o) == rules[SITE_CONF_PROMOTED].patched0 && r.conf_counts_ofs > 0) {
            int count = at(r.conf_counts_ofs + 6);
            if (count >= 1 && count <= 7) {
                r.promoted = count;
                usable = at(o + 9) == count;
            }
        }
        r.conf_promoted_ofs = usable ? static_cast<int32_t>(o) : -1;
        if (!usable)
            r.conf_counts_ofs = -1;
    }
    return r;
}

scan_result scan_of(const patch_target *t, const std::string &diagnostics)
{
    scan_result r{t->start_year_ofs, t->wc06_ofs, t->bosman_year_ofs, t->click_delay_ofs, t->exitgame_ofs,
                  t->conf_counts_ofs, t->conf_promoted_ofs, t->start_year, t->bosman_year, t->click_delay,
                  t->wc06_installed, t->exitgame_installed, t->promoted, t->relegated, t->touch_conference,
                  t->wc06_original_known, {}, diagnostics};
    if (t->wc06_original_known)
        r.wc06_original.assign(t->wc06_original, t->wc06_original + WC06_BLOCK_LEN);
    return r;
}

patch_target *scan_path(const char *path, std::string *diagnostics)
{
    patch_target *t = open_target(path);
    if (t == nullptr)
        return nullptr;
    char *text = nullptr;
    std::size_t len = 0;
    std::FILE *log = open_memstream(&text, &len);
    FUZZ_CHECK(log != nullptr);
    scan_diagnostics = log;
    scan_target(t);
    scan_diagnostics = nullptr;
    FUZZ_CHECK(std::fclose(log) == 0);
    diagnostics->assign(text, len);
    std::free(text);
    return t;
}

namespace {

void print_scan(const char *label, const scan_result &r)
{
    std::fprintf(stderr,
                 "%s: start %d/%d wc06 %d/%d/known %d bosman %d/%d click %d/%d exit %d/%d "
                 "conf %d/%d promoted %d relegated %d touch %d diagnostics \"%s\"\n",
                 label, r.start_year_ofs, r.start_year, r.wc06_ofs, r.wc06_installed, r.wc06_original_known,
                 r.bosman_year_ofs, r.bosman_year, r.click_delay_ofs, r.click_delay, r.exitgame_ofs,
                 r.exitgame_installed, r.conf_counts_ofs, r.conf_promoted_ofs, r.promoted, r.relegated,
                 r.touch_conference, r.diagnostics.c_str());
}

} // namespace

void expect_same_scan(const scan_result &got, const scan_result &want)
{
    bool same = got.start_year_ofs == want.start_year_ofs && got.wc06_ofs == want.wc06_ofs
                && got.bosman_year_ofs == want.bosman_year_ofs && got.click_delay_ofs == want.click_delay_ofs
                && got.exitgame_ofs == want.exitgame_ofs && got.conf_counts_ofs == want.conf_counts_ofs
                && got.conf_promoted_ofs == want.conf_promoted_ofs && got.start_year == want.start_year
                && got.bosman_year == want.bosman_year && got.click_delay == want.click_delay
                && got.wc06_installed == want.wc06_installed && got.exitgame_installed == want.exitgame_installed
                && got.promoted == want.promoted && got.relegated == want.relegated
                && got.touch_conference == want.touch_conference
                && got.wc06_original_known == want.wc06_original_known && got.wc06_original == want.wc06_original
                && got.diagnostics == want.diagnostics;
    if (!same) {
        print_scan("core     ", got);
        print_scan("reference", want);
    }
    FUZZ_CHECK(same, "the scan differs from the reference");
}

namespace {

model_write block_write(site_id site, int32_t ofs, const uint8_t *block)
{
    const site_entry &e = patch_catalogue[site];
    return model_write{site, ofs, bytes(block, block + e.block_len)};
}

model_write year_write(site_id site, int32_t ofs, int16_t year)
{
    const auto y = static_cast<uint16_t>(year);
    return model_write{site, ofs, bytes{static_cast<uint8_t>(y & 0xff), static_cast<uint8_t>(y >> 8)}};
}

bool year_in_range(int16_t y)
{
    return y >= 2000 && y < 30000;
}

} // namespace

writer_model model_writes(const patch_target *t)
{
    writer_model m{{}, false};
    if (t->click_delay_ofs > 0) {
        const site_entry &e = patch_catalogue[SITE_CLICK_DELAY];
        if (t->click_delay >= 1 && t->click_delay <= 8) {
            model_write w = block_write(SITE_CLICK_DELAY, t->click_delay_ofs, e.patched);
            w.data[25] = static_cast<uint8_t>(t->click_delay);
            m.writes.push_back(w);
        } else {
            m.writes.push_back(block_write(SITE_CLICK_DELAY, t->click_delay_ofs, e.unpatched));
        }
    }
    if (t->bosman_year_ofs > 0 && year_in_range(t->bosman_year))
        m.writes.push_back(year_write(SITE_BOSMAN_YEAR, t->bosman_year_ofs, t->bosman_year));
    if (t->start_year_ofs > 0 && year_in_range(t->start_year)) {
        m.writes.push_back(year_write(SITE_START_YEAR, t->start_year_ofs, t->start_year));
        if (t->wc06_ofs > 0) {
            if (t->start_year >= 2003)
                m.writes.push_back(block_write(SITE_WC06_FIX, t->wc06_ofs, patch_catalogue[SITE_WC06_FIX].patched));
            else if (t->wc06_original_known)
                m.writes.push_back(block_write(SITE_WC06_FIX, t->wc06_ofs, t->wc06_original));
            else
                m.wc06_kept = true;  // the game's own 110 bytes are not known
        }
    }
    if (t->exitgame_ofs > 0) {
        const site_entry &e = patch_catalogue[SITE_EXITGAME];
        m.writes.push_back(block_write(SITE_EXITGAME, t->exitgame_ofs, t->exitgame_installed ? e.patched : e.unpatched));
    }
    if (t->conf_promoted_ofs > 0 && t->conf_counts_ofs > 0) {
        const site_entry &p = patch_catalogue[SITE_CONF_PROMOTED];
        const site_entry &c = patch_catalogue[SITE_CONF_COUNTS];
        if (t->touch_conference) {
            model_write wp = block_write(SITE_CONF_PROMOTED, t->conf_promoted_ofs, p.patched);
            wp.data[9] = static_cast<uint8_t>(t->promoted);
            model_write wc = block_write(SITE_CONF_COUNTS, t->conf_counts_ofs, c.patched);
            wc.data[6] = static_cast<uint8_t>(t->promoted);
            wc.data[9] = static_cast<uint8_t>(t->relegated);
            m.writes.push_back(wp);
            m.writes.push_back(wc);
        } else {
            m.writes.push_back(block_write(SITE_CONF_PROMOTED, t->conf_promoted_ofs, p.unpatched));
            m.writes.push_back(block_write(SITE_CONF_COUNTS, t->conf_counts_ofs, c.unpatched));
        }
    }
    return m;
}
