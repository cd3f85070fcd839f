#pragma once

#include <cstdint>
#include <cstdio>

#include "patch/catalogue.h"
#include "patch/results.h"

// Why the scan found a site absent.
enum site_absence : uint8_t {
    ABSENT_NONE,
    ABSENT_NOT_FOUND,
    ABSENT_FOUND_TWICE,
    ABSENT_CUT_OFF,        // its value or block would run past the end of the file
    ABSENT_SHARES_BYTES,   // with another site
    ABSENT_UNRECOGNISED,   // code that is neither the game's nor ours
    ABSENT_PAIR,           // the other conference block is absent, or they disagree
    ABSENT_READ_ERROR,
};

// A site as the scan found it: where the search found its signature (the
// first two places, -1 for none), its offset (-1 when the scan offers no
// site there) and its bytes, a year or the whole block, as read once before
// the scan told what they hold.
struct site_seen {
    int32_t first;
    int32_t second;
    int32_t ofs;
    uint8_t bytes[MAX_BLOCK_LEN];
};

// The one game executable of a run: its path, a read handle held for the
// whole run, and each patch site's offset (> 0 when usable, -1 when absent or
// not to be written) with its current, later chosen, value.
struct patch_target {
    char *path;
    std::FILE *file;
    int32_t click_delay_ofs;
    int8_t click_delay;          // 1..6 installed, -1 game's code, -2 our block with an odd delay
    int32_t bosman_year_ofs;
    int16_t bosman_year;
    int32_t start_year_ofs;
    int16_t start_year;
    int32_t wc06_ofs;
    int32_t wc06_installed;
    int32_t exitgame_ofs;
    int32_t exitgame_installed;
    int32_t conf_promoted_ofs;
    int32_t conf_counts_ofs;
    int8_t promoted;
    int8_t relegated;
    int32_t touch_conference;
    // As the scan found them: 1 when the conference counts block, or the
    // promoted block, holds our code; 0 for the game's (or no pair).
    int32_t conf_installed;
    int32_t conf_promoted_installed;
    // 1 when the scan found our conf_counts next to the game's conf_promoted:
    // a change or removal of the counts was cut off there, and `promoted` is
    // the one in conf_counts. The next apply of the conference finishes it.
    int32_t conf_half_written;
    // A bit per site_id: a recognised block whose other bytes are not all
    // those of the variant its byte 0 names (parameters and the unknown part
    // of the game's World Cup 06 block aside): a write was cut off inside it,
    // and the same change run again repairs it.
    int32_t damaged;

    // What the scan saw, so the writer can tell whether the file is still the
    // one that was scanned. -1 before a scan.
    int64_t file_size;
    // The game's own wc06_fix block as found in the file (only the first 64
    // bytes are known in advance); valid when wc06_original_known is 1.
    int32_t wc06_original_known;
    uint8_t wc06_original[WC06_BLOCK_LEN];
    // Per site_id: ABSENT_NONE, or why the site is absent.
    site_absence absent[SITE_COUNT];
    // Per site_id: what the scan's notes tell, and what the writer writes
    // over only while the file still holds it.
    site_seen seen[SITE_COUNT];
};

// Whether a site offset names a usable site: found and recognised (or, in a
// plan, to be written). Offsets are never 0; -1 means none.
constexpr bool site_usable(int32_t ofs)
{
    return ofs > 0;
}

// The offset field of one site (a site_id), or -1 for no such site.
inline int32_t target_site_ofs(const patch_target *t, int site)
{
    return site >= 0 && site < SITE_COUNT ? t->*patch_catalogue[site].ofs : -1;
}

inline bool target_site_usable(const patch_target *t, int site)
{
    return site_usable(target_site_ofs(t, site));
}

// The two conference blocks are used only as a pair.
inline bool conference_usable(const patch_target *t)
{
    return target_site_usable(t, SITE_CONF_COUNTS) && target_site_usable(t, SITE_CONF_PROMOTED);
}

// Null when the file cannot be opened for reading (or memory is short);
// then `*cause`, when given, says why as far as the system told.
patch_target *open_target(const char *path, file_cause *cause = nullptr);
// Finds and classifies all seven sites. Never fails as a whole.
void scan_target(patch_target *t);
void close_target(patch_target *t);
// The first site that a read error made absent, or -1.
int target_read_error_site(const patch_target *t);
