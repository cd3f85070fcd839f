#include "patch/patch_target.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "patch/strings.h"
#include "patch/file_io.h"
#include "patch/rules.h"
#include "patch/sig_stream.h"

std::FILE *scan_diagnostics = nullptr;

namespace {

// What byte 0 of a block site holds.
enum block_variant { VARIANT_GAME, VARIANT_OURS, VARIANT_NEITHER, VARIANT_UNREADABLE };

// Where a site's signature was found exactly once, or -1 and why not. A site
// whose value or block would run past the end of the file (or past what a
// signed 32-bit offset can reach) counts as not found: we never change the
// file's length. So does one whose search met a read error, or that shares
// bytes with another site.
struct site_hit {
    int32_t first;   // raw search results
    int32_t second;
    int32_t ofs;     // site offset, or -1
    site_absence why;
};

site_hit locate(const patch_target *t, const site_entry &e)
{
    site_hit h{-1, -1, -1, ABSENT_NOT_FOUND};
    // Each stream must read the file the target has open, not whatever has
    // its name by now.
    sig_stream *s = sig_stream_open(t->path, e.sig_len, e.sig, t->file);
    h.first = sig_stream_next(s);
    h.second = sig_stream_next(s);
    // A search cut short by a read error proves nothing about uniqueness.
    bool complete = s != nullptr && !s->failed;
    sig_stream_close(s);
    if (!complete) {
        h.why = ABSENT_READ_ERROR;
        return h;
    }
    if (h.first == -1)
        return h;
    if (h.second != -1) {
        h.why = ABSENT_FOUND_TWICE;
        return h;
    }
    int64_t ofs = static_cast<int64_t>(h.first) + e.sig_len;
    int64_t end = ofs + e.block_len;
    h.why = ABSENT_CUT_OFF;
    if (end <= t->file_size && end <= INT32_MAX) {
        h.ofs = static_cast<int32_t>(ofs);
        h.why = SITE_PRESENT;
    }
    return h;
}

bool read_at(const patch_target *t, int32_t ofs, uint8_t *out, std::size_t n)
{
    return std::fseek(t->file, ofs, SEEK_SET) == 0 && std::fread(out, 1, n, t->file) == n;
}

// -1 when the byte cannot be read.
int read_byte(const patch_target *t, int32_t ofs)
{
    uint8_t b = 0;
    return read_at(t, ofs, &b, 1) ? b : -1;
}


bool is_parameter(site_id site, int32_t pos)
{
    switch (site) {
    case SITE_CLICK_DELAY:
        return pos == CLICK_DELAY_PARAM_POS;
    case SITE_CONF_COUNTS:
        return pos == CONF_COUNTS_PROMOTED_POS || pos == CONF_COUNTS_RELEGATED_POS;
    case SITE_CONF_PROMOTED:
        return pos == CONF_PROMOTED_PARAM_POS;
    default:
        return false;
    }
}

// Byte 0 alone decides what a block is (`ours` or the game's); the rest
// tells whether it is whole. False when it cannot be read.
bool note_damage(patch_target *t, site_id site, int32_t ofs, bool ours)
{
    const site_entry &e = patch_catalogue[site];
    const int32_t len = ours ? e.block_len : e.unpatched_known;
    uint8_t now[MAX_BLOCK_LEN];
    if (!read_at(t, ofs, now, static_cast<std::size_t>(len)))
        return false;
    for (int32_t i = 1; i < len; ++i)
        if (now[i] != (ours ? e.patched : e.unpatched)[i] && !(ours && is_parameter(site, i)))
            t->damaged |= 1 << site;
    return true;
}

block_variant classify(patch_target *t, const site_entry &e, int32_t ofs)
{
    int b = read_byte(t, ofs);
    if (b < 0)
        return VARIANT_UNREADABLE;
    const bool ours = b == e.patched[0];
    if (!ours && b != e.unpatched[0])
        return VARIANT_NEITHER;
    if (!note_damage(t, static_cast<site_id>(&e - patch_catalogue), ofs, ours))
        return VARIANT_UNREADABLE;
    return ours ? VARIANT_OURS : VARIANT_GAME;
}

site_absence absence_of(block_variant v)
{
    return v == VARIANT_UNREADABLE ? ABSENT_READ_ERROR : ABSENT_UNRECOGNISED;
}

std::FILE *diagnostics()
{
    return scan_diagnostics != nullptr ? scan_diagnostics : stdout;
}

void scan_year(patch_target *t, const site_hit &h, site_id site, int32_t *ofs, int16_t *year)
{
    uint8_t b[2] = {0, 0};
    if (h.ofs < 0)
        return;
    if (!read_at(t, h.ofs, b, 2)) {
        t->absent[site] = ABSENT_READ_ERROR;
        return;
    }
    *ofs = h.ofs;
    *year = static_cast<int16_t>(b[0] | (b[1] << 8));
}

void scan_start_year(patch_target *t, const site_hit &h)
{
    scan_year(t, h, SITE_START_YEAR, &t->start_year_ofs, &t->start_year);
}

void scan_bosman_year(patch_target *t, const site_hit &h)
{
    scan_year(t, h, SITE_BOSMAN_YEAR, &t->bosman_year_ofs, &t->bosman_year);
}

void scan_wc06(patch_target *t, const site_hit &h)
{
    if (h.ofs < 0)
        return;
    const site_entry &e = patch_catalogue[SITE_WC06_FIX];
    block_variant v = classify(t, e, h.ofs);
    switch (v) {
    case VARIANT_OURS:
        t->wc06_ofs = h.ofs;
        t->wc06_installed = 1;
        return;
    case VARIANT_GAME:
        // Only part of the game's block is known to us: keep what the file
        // holds so that it can be written back exactly.
        if (read_at(t, h.ofs, t->wc06_original, sizeof t->wc06_original)) {
            t->wc06_ofs = h.ofs;
            t->wc06_original_known = 1;
            return;
        }
        v = VARIANT_UNREADABLE;
        break;
    case VARIANT_NEITHER:
    case VARIANT_UNREADABLE:
        break;
    }
    t->absent[SITE_WC06_FIX] = absence_of(v);
}

void scan_click_delay(patch_target *t, const site_hit &h)
{
    if (h.ofs < 0)
        return;
    const site_entry &e = patch_catalogue[SITE_CLICK_DELAY];
    block_variant v = classify(t, e, h.ofs);
    int delay = v == VARIANT_OURS ? read_byte(t, h.ofs + CLICK_DELAY_PARAM_POS) : 0;
    if (delay < 0)
        v = VARIANT_UNREADABLE;
    switch (v) {
    case VARIANT_OURS:
        t->click_delay_ofs = h.ofs;
        t->click_delay = static_cast<int8_t>(delay >= CLICK_DELAY_MIN && delay <= CLICK_DELAY_MAX ? delay : -2);
        return;
    case VARIANT_GAME:
        t->click_delay_ofs = h.ofs;
        t->click_delay = -1;
        return;
    case VARIANT_NEITHER:
    case VARIANT_UNREADABLE:
        break;
    }
    // Unknown code: never written over.
    t->click_delay = -2;
    t->absent[SITE_CLICK_DELAY] = absence_of(v);
}

void scan_exitgame(patch_target *t, const site_hit &h)
{
    if (h.ofs < 0) {
        std::fprintf(diagnostics(), "exitgame: ofs = %i, ofs2 = %i\n", h.first, h.second);
        return;
    }
    const site_entry &e = patch_catalogue[SITE_EXITGAME];
    block_variant v = classify(t, e, h.ofs);
    switch (v) {
    case VARIANT_OURS:
    case VARIANT_GAME:
        t->exitgame_ofs = h.ofs;
        t->exitgame_installed = v == VARIANT_OURS ? 1 : 0;
        return;
    case VARIANT_NEITHER:
        std::fprintf(diagnostics(), "First byte after exit fix is %02X\n", read_byte(t, h.ofs) & 0xff);
        break;
    case VARIANT_UNREADABLE:
        break;
    }
    t->absent[SITE_EXITGAME] = absence_of(v);
}

void scan_conf_counts(patch_target *t, const site_hit &h)
{
    if (h.ofs < 0)
        return;
    const site_entry &e = patch_catalogue[SITE_CONF_COUNTS];
    block_variant v = classify(t, e, h.ofs);
    int relegated = v == VARIANT_OURS ? read_byte(t, h.ofs + CONF_COUNTS_RELEGATED_POS) : GAME_RELEGATED;
    if (relegated < 0)
        v = VARIANT_UNREADABLE;
    if (v == VARIANT_GAME || v == VARIANT_OURS) {
        t->conf_counts_ofs = h.ofs;
        t->conf_installed = v == VARIANT_OURS ? 1 : 0;
        t->relegated = static_cast<int8_t>(relegated);
        return;
    }
    t->absent[SITE_CONF_COUNTS] = absence_of(v);
}

// The promoted count in our conf_counts block, when it is one the scan
// recognises.
site_absence counts_promoted(patch_target *t)
{
    int count = read_byte(t, t->conf_counts_ofs + CONF_COUNTS_PROMOTED_POS);
    if (count < 0)
        return ABSENT_READ_ERROR;
    if (count < PROMOTED_MIN || count > PROMOTED_MAX)
        return ABSENT_PAIR;
    t->promoted = static_cast<int8_t>(count);
    return SITE_PRESENT;
}

// Our conf_promoted block must agree with our conf_counts block.
site_absence promoted_counts_agree(patch_target *t)
{
    if (t->conf_counts_ofs == -1)
        return ABSENT_PAIR;
    site_absence why = counts_promoted(t);
    int again = read_byte(t, t->conf_promoted_ofs + CONF_PROMOTED_PARAM_POS);
    if (again < 0)
        return ABSENT_READ_ERROR;
    return why != SITE_PRESENT || again == t->promoted ? why : ABSENT_PAIR;
}

// The game's conf_promoted block next to our conf_counts is where a change or
// a removal of the counts stops when cut off after its first write: the
// promoted count is still the one in conf_counts.
site_absence game_promoted(patch_target *t)
{
    t->promoted = GAME_PROMOTED;
    if (t->conf_counts_ofs == -1 || !t->conf_installed)
        return SITE_PRESENT;
    t->conf_half_written = 1;
    return counts_promoted(t);
}

// The two conference sites are used only as a pair.
void scan_conf_promoted(patch_target *t, const site_hit &h)
{
    site_absence why = h.why;
    if (h.ofs >= 0) {
        const site_entry &e = patch_catalogue[SITE_CONF_PROMOTED];
        t->conf_promoted_ofs = h.ofs;
        block_variant v = classify(t, e, h.ofs);
        why = v == VARIANT_GAME ? game_promoted(t) : v == VARIANT_OURS ? promoted_counts_agree(t) : absence_of(v);
        t->conf_promoted_installed = v == VARIANT_OURS ? 1 : 0;
    }
    if (why == SITE_PRESENT)
        return;
    t->conf_installed = t->conf_promoted_installed = t->conf_half_written = 0;
    t->absent[SITE_CONF_PROMOTED] = why;
    if (site_usable(t->conf_counts_ofs))
        t->absent[SITE_CONF_COUNTS] = why == ABSENT_READ_ERROR ? ABSENT_READ_ERROR : ABSENT_PAIR;
    t->conf_promoted_ofs = -1;
    t->conf_counts_ofs = -1;
}

// Two sites that share bytes cannot both be what they seem, and writing one
// would change the other: neither is used.
void drop_overlapping(site_hit hits[SITE_COUNT])
{
    bool clash[SITE_COUNT] = {};
    for (int a = 0; a < SITE_COUNT; ++a)
        for (int b = a + 1; b < SITE_COUNT; ++b) {
            if (hits[a].ofs < 0 || hits[b].ofs < 0)
                continue;
            int64_t a_end = static_cast<int64_t>(hits[a].ofs) + patch_catalogue[a].block_len;
            int64_t b_end = static_cast<int64_t>(hits[b].ofs) + patch_catalogue[b].block_len;
            if (hits[a].first < b_end && hits[b].first < a_end)
                clash[a] = clash[b] = true;
        }
    for (int i = 0; i < SITE_COUNT; ++i)
        if (clash[i]) {
            hits[i].ofs = -1;
            hits[i].why = ABSENT_SHARES_BYTES;
        }
}

using site_scanner = void (*)(patch_target *, const site_hit &);

// In this order: conf_promoted's check needs conf_counts' final offset.
const site_scanner site_scanners[] = {
    scan_start_year, scan_wc06,     scan_bosman_year,   scan_click_delay,
    scan_exitgame,   scan_conf_counts, scan_conf_promoted,
};
static_assert(std::size(site_scanners) == SITE_COUNT, "a scanner for every site");

} // namespace

patch_target *open_target(const char *path, file_cause *cause)
{
    auto *t = static_cast<patch_target *>(std::calloc(1, sizeof(patch_target)));
    if (t == nullptr)
        return nullptr;
    t->path = copy_string(path);
    t->click_delay_ofs = -1;
    t->click_delay = -1;
    t->bosman_year_ofs = -1;
    t->start_year_ofs = -1;
    t->wc06_ofs = -1;
    t->exitgame_ofs = -1;
    t->conf_promoted_ofs = -1;
    t->conf_counts_ofs = -1;
    t->promoted = GAME_PROMOTED;
    t->relegated = GAME_RELEGATED;
    t->file_size = -1;
    file_cause why = CAUSE_NONE;
    if (t->path != nullptr)
        t->file = open_for_read(path, &why);
    // A directory or a device is no executable, even where it can be opened;
    // a length that the system fails to give (an I/O error) is no such thing.
    error_clear();
    if (t->file != nullptr && file_length(t->file) < 0) {
        why = errno != 0 ? error_cause() : CAUSE_NOT_REGULAR;
        close_file(t->file);
        t->file = nullptr;
    }
    if (cause != nullptr)
        *cause = why;
    if (t->file == nullptr) {
        free_string(t->path);
        std::free(t);
        return nullptr;
    }
    return t;
}

void scan_target(patch_target *t)
{
    t->file_size = file_length(t->file);
    site_hit hits[SITE_COUNT];
    // A file whose length cannot be had cannot be searched to its end.
    if (t->file_size < 0) {
        for (site_absence &why : t->absent)
            why = ABSENT_READ_ERROR;
        return;
    }
    for (int i = 0; i < SITE_COUNT; ++i)
        hits[i] = locate(t, patch_catalogue[i]);
    drop_overlapping(hits);
    // Each site whole, before what it holds is read: a change after this
    // read is one that the writer sees.
    for (int i = 0; i < SITE_COUNT; ++i) {
        const auto len = static_cast<std::size_t>(patch_catalogue[i].block_len);
        if (site_usable(hits[i].ofs) && !read_at(t, hits[i].ofs, t->seen[i].bytes, len))
            hits[i] = {hits[i].first, hits[i].second, -1, ABSENT_READ_ERROR};
    }
    for (int i = 0; i < SITE_COUNT; ++i) {
        t->absent[i] = hits[i].why;
        site_scanners[i](t, hits[i]);
    }
    // The writer may write only where the scan offers a site.
    for (int i = 0; i < SITE_COUNT; ++i)
        t->seen[i].ofs = target_site_ofs(t, i);
}

int target_read_error_site(const patch_target *t)
{
    for (int i = 0; i < SITE_COUNT; ++i)
        if (t->absent[i] == ABSENT_READ_ERROR)
            return i;
    return -1;
}

int32_t target_site_ofs(const patch_target *t, int site)
{
    switch (site) {
    case SITE_START_YEAR:
        return t->start_year_ofs;
    case SITE_WC06_FIX:
        return t->wc06_ofs;
    case SITE_BOSMAN_YEAR:
        return t->bosman_year_ofs;
    case SITE_CLICK_DELAY:
        return t->click_delay_ofs;
    case SITE_EXITGAME:
        return t->exitgame_ofs;
    case SITE_CONF_COUNTS:
        return t->conf_counts_ofs;
    case SITE_CONF_PROMOTED:
        return t->conf_promoted_ofs;
    default:
        return -1;
    }
}

void close_target(patch_target *t)
{
    if (t == nullptr)
        return;
    close_file(t->file);
    free_string(t->path);
    std::free(t);
}
