#include "patch/restore.h"

#include <cstdlib>
#include <cstring>

#include "patch/backup.h"
#include "patch/file_io.h"
#include "patch/rules.h"

namespace {

patch_outcome mismatch(int site)
{
    return outcome_of(RESULT_BACKUP_MISMATCH, site);
}

// The request that gives each site of `file` the state `bak` holds there;
// RESULT_OK, or the first site whose state no request can write back
// exactly (then the backup must be copied back by hand).
patch_outcome restore_request(const patch_target *file, const patch_target *bak, patch_request *r)
{
    patch_request_init(r);
    if (target_site_usable(file, SITE_START_YEAR))
        r->start_year = {1, bak->start_year};
    if (target_site_usable(file, SITE_BOSMAN_YEAR))
        r->bosman_year = {1, bak->bosman_year};
    if (r->start_year.set && (r->start_year.value < YEAR_MIN || r->start_year.value > YEAR_MAX))
        return mismatch(SITE_START_YEAR);
    if (r->bosman_year.set && (r->bosman_year.value < YEAR_MIN || r->bosman_year.value > YEAR_MAX))
        return mismatch(SITE_BOSMAN_YEAR);
    // The fix follows the start year: only a backup whose fix does is
    // written back by it; without the start year it must already agree.
    if (target_site_usable(file, SITE_WC06_FIX)) {
        const bool follows = (bak->wc06_installed != 0) == (bak->start_year >= WC06_FIRST_YEAR);
        const bool same = file->wc06_installed == bak->wc06_installed
                          && (bak->wc06_installed
                              || std::memcmp(file->wc06_original, bak->wc06_original, sizeof bak->wc06_original) == 0);
        if (r->start_year.set ? !follows : !same)
            return mismatch(SITE_WC06_FIX);
        r->wc06 = r->start_year.set ? WC06_FOLLOW : WC06_LEAVE;
    }
    if (target_site_usable(file, SITE_CLICK_DELAY)) {
        if (bak->click_delay == -2)
            return mismatch(SITE_CLICK_DELAY);
        r->click_delay = {1, bak->click_delay == -1 ? CLICK_DELAY_OFF : bak->click_delay};
    }
    if (target_site_usable(file, SITE_EXITGAME))
        r->exitgame = {1, bak->exitgame_installed != 0 ? 1 : 0};
    if (conference_usable(file)) {
        if (bak->conf_half_written)
            return mismatch(SITE_CONF_PROMOTED);
        if (bak->conf_installed) {
            r->promoted = {1, bak->promoted};
            r->relegated = {1, bak->relegated};
        } else {
            r->conference_original = 1;
        }
    }
    return outcome_of(RESULT_OK);
}

// The restore of a scanned file from an open, verified backup.
patch_outcome restore_scanned(const patch_target *file, std::FILE *bak, const char *bak_path, int dry_run,
                              const patch_events *events)
{
    patch_target *b = nullptr;
    patch_outcome o = backup_verify(file, bak, bak_path, &b);
    if (o.result != RESULT_OK)
        return o.result == RESULT_BACKUP_UNVERIFIED ? mismatch(o.site) : outcome_of(RESULT_BACKUP_UNREADABLE);
    patch_request r;
    o = restore_request(file, b, &r);
    // The game's own World Cup block is known from the backup too.
    patch_target from = *file;
    if (b->wc06_original_known) {
        std::memcpy(from.wc06_original, b->wc06_original, sizeof from.wc06_original);
        from.wc06_original_known = 1;
    }
    close_target(b);
    if (o.result != RESULT_OK)
        return o;
    r.dry_run = dry_run;
    // Nothing recognised: the backup was then checked byte for byte already.
    if (patch_request_empty(&r))
        return o;
    o = patch_scanned(&r, &from, events);
    if (o.result != RESULT_OK || dry_run)
        return o;
    const int same = backup_same_bytes(file, bak, false);
    return same == 1 ? o : outcome_of(same == 0 ? RESULT_VERIFY_FAILED : RESULT_UNCHECKED);
}

} // namespace

patch_outcome restore_file(const char *path, const char *backup_path, int dry_run, const patch_events *events)
{
    patch_target *t = nullptr;
    file_cause cause = CAUSE_NONE;
    patch_result scanned = scan_file(path, &t, &cause, events);
    if (scanned != RESULT_OK)
        return outcome_of(scanned, -1, cause);
    char *own = backup_path == nullptr ? backup_path_of(path) : nullptr;
    const char *from = backup_path != nullptr ? backup_path : own;
    std::FILE *bak = from != nullptr ? open_for_read(from, &cause) : nullptr;
    patch_outcome o = bak != nullptr ? restore_scanned(t, bak, from, dry_run, events)
                                     : outcome_of(RESULT_BACKUP_UNREADABLE, -1, cause);
    if (bak != nullptr)
        (void)close_file(bak);  // read only: nothing to lose
    std::free(own);
    close_target(t);
    return o;
}
