#include "patch/patch_target.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "patch/strings.h"
#include "patch/file_io.h"
#include "patch/rules.h"
#include "patch/sig_stream.h"

namespace {

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
        h.why = ABSENT_NONE;
    }
    return h;
}

bool read_at(const patch_target *t, int32_t ofs, uint8_t *out, std::size_t n)
{
    return std::fseek(t->file, ofs, SEEK_SET) == 0 && std::fread(out, 1, n, t->file) == n;
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

// A year as it stands; a block by its byte 0 alone, ours or the game's, and
// whole or not by the rest. Unknown code is never written over.
void take_site(patch_target *t, int site, int32_t ofs)
{
    const site_entry &e = patch_catalogue[site];
    const uint8_t *b = t->seen[site].bytes;
    if (e.kind == SITE_KIND_YEAR) {
        t->*e.ofs = ofs;
        t->*e.year = static_cast<int16_t>(b[0] | (b[1] << 8));
        return;
    }
    const bool ours = b[0] == e.patched[0];
    if (!ours && b[0] != e.unpatched[0]) {
        t->absent[site] = ABSENT_UNRECOGNISED;
        return;
    }
    const uint8_t *variant = ours ? e.patched : e.unpatched;
    for (int32_t i = 1; i < (ours ? e.block_len : e.unpatched_known); ++i)
        if (b[i] != variant[i] && !(ours && site_is_parameter(site, i)))
            t->damaged |= 1 << site;
    t->*e.ofs = ofs;
    if (e.installed != nullptr)
        t->*e.installed = ours ? 1 : 0;
    // The conference counts are the pair's, taken below.
    for (int k = 0; ours && e.kind == SITE_KIND_BLOCK && k < e.param_count; ++k)
        t->*e.params[k].field = static_cast<int8_t>(b[e.params[k].pos]);
}

// Only part of the game's World Cup 06 block is known to us: keep what the
// file holds so that it can be written back exactly.
void keep_wc06_original(patch_target *t)
{
    if (!target_site_usable(t, SITE_WC06_FIX) || t->wc06_installed)
        return;
    std::memcpy(t->wc06_original, t->seen[SITE_WC06_FIX].bytes, sizeof t->wc06_original);
    t->wc06_original_known = 1;
}

// Our click delay block with a delay we do not know, or code we do not know
// at all: a delay not recognised.
void flag_odd_delay(patch_target *t)
{
    const site_entry &e = patch_catalogue[SITE_CLICK_DELAY];
    const uint8_t *b = t->seen[SITE_CLICK_DELAY].bytes;
    const bool ours = target_site_usable(t, SITE_CLICK_DELAY) && b[0] == e.patched[0];
    const int delay = b[e.params[0].pos];
    if (t->absent[SITE_CLICK_DELAY] == ABSENT_UNRECOGNISED
        || (ours && (delay < CLICK_DELAY_MIN || delay > CLICK_DELAY_MAX)))
        t->click_delay = -2;
}

// The byte that parameter `k` of a site's block holds.
int param_byte(const patch_target *t, int site, int k)
{
    return t->seen[site].bytes[patch_catalogue[site].params[k].pos];
}

// The promoted count in our conf_counts block, when it is one the scan
// recognises.
site_absence counts_promoted(patch_target *t)
{
    const int count = param_byte(t, SITE_CONF_COUNTS, 0);
    if (count < PROMOTED_MIN || count > PROMOTED_MAX)
        return ABSENT_PAIR;
    t->promoted = static_cast<int8_t>(count);
    return ABSENT_NONE;
}

// Our conf_promoted block must agree with our conf_counts block.
site_absence promoted_counts_agree(patch_target *t)
{
    if (!target_site_usable(t, SITE_CONF_COUNTS))
        return ABSENT_PAIR;
    site_absence why = counts_promoted(t);
    return why != ABSENT_NONE || param_byte(t, SITE_CONF_PROMOTED, 0) == t->promoted ? why : ABSENT_PAIR;
}

// The game's conf_promoted block next to our conf_counts is where a change or
// a removal of the counts stops when cut off after its first write: the
// promoted count is still the one in conf_counts.
site_absence game_promoted(patch_target *t)
{
    t->promoted = GAME_PROMOTED;
    if (!target_site_usable(t, SITE_CONF_COUNTS) || !t->conf_installed)
        return ABSENT_NONE;
    t->conf_half_written = 1;
    return counts_promoted(t);
}

// The two conference sites are used only as a pair.
void take_conference(patch_target *t)
{
    if (target_site_usable(t, SITE_CONF_COUNTS) && t->conf_installed)
        t->relegated = static_cast<int8_t>(param_byte(t, SITE_CONF_COUNTS, 1));
    site_absence why = t->absent[SITE_CONF_PROMOTED];
    if (target_site_usable(t, SITE_CONF_PROMOTED))
        why = t->conf_promoted_installed ? promoted_counts_agree(t) : game_promoted(t);
    if (why == ABSENT_NONE)
        return;
    t->conf_installed = t->conf_promoted_installed = t->conf_half_written = 0;
    t->absent[SITE_CONF_PROMOTED] = why;
    if (target_site_usable(t, SITE_CONF_COUNTS))
        t->absent[SITE_CONF_COUNTS] = why == ABSENT_READ_ERROR ? ABSENT_READ_ERROR : ABSENT_PAIR;
    for (int site : {SITE_CONF_COUNTS, SITE_CONF_PROMOTED})
        t->*patch_catalogue[site].ofs = -1;
}

} // namespace

patch_target *open_target(const char *path, file_cause *cause)
{
    auto *t = static_cast<patch_target *>(std::calloc(1, sizeof(patch_target)));
    if (t == nullptr)
        return nullptr;
    t->path = copy_string(path);
    for (int site = 0; site < SITE_COUNT; ++site) {
        t->*patch_catalogue[site].ofs = -1;
        t->seen[site] = site_seen{-1, -1, -1, {}};
    }
    t->click_delay = -1;
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
    // A file whose length cannot be had cannot be searched to its end.
    if (t->file_size < 0) {
        for (site_absence &why : t->absent)
            why = ABSENT_READ_ERROR;
        return;
    }
    site_hit hits[SITE_COUNT];
    for (int i = 0; i < SITE_COUNT; ++i)
        hits[i] = locate(t, patch_catalogue[i]);
    drop_overlapping(hits);
    // Each site is read whole, once, before what it holds is told: a change
    // after this read is one that the writer sees.
    for (int i = 0; i < SITE_COUNT; ++i) {
        const auto len = static_cast<std::size_t>(patch_catalogue[i].block_len);
        t->seen[i].first = hits[i].first;
        t->seen[i].second = hits[i].second;
        t->absent[i] = hits[i].why;
        if (!site_usable(hits[i].ofs))
            continue;
        if (read_at(t, hits[i].ofs, t->seen[i].bytes, len))
            take_site(t, i, hits[i].ofs);
        else
            t->absent[i] = ABSENT_READ_ERROR;
    }
    keep_wc06_original(t);
    flag_odd_delay(t);
    take_conference(t);
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

void close_target(patch_target *t)
{
    if (t == nullptr)
        return;
    close_file(t->file);
    free_string(t->path);
    std::free(t);
}
