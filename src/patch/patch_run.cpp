#include "patch/patch_run.h"

#include "patch/apply_patches.h"
#include "patch/file_io.h"

namespace {

int read_byte_at(std::FILE *f, int32_t ofs)
{
    uint8_t b = 0;
    if (std::fseek(f, ofs, SEEK_SET) != 0 || std::fread(&b, 1, 1, f) != 1)
        return -1;
    return b;
}

// A written site must be found where it was and hold what was planned.
bool site_back(int32_t planned_ofs, int32_t found_ofs, bool same_value)
{
    return !site_usable(planned_ofs) || (found_ofs == planned_ofs && same_value);
}

// Refuses before a backup is made when the file cannot be written anyway;
// `*cause` says why.
bool writable(const char *path, file_cause *cause)
{
    std::FILE *probe = open_for_update(path, cause);
    return probe != nullptr && close_file(probe) == 0;
}

// A backup that exists already is a refusal, unless the mode keeps the first.
patch_outcome backup_outcome(backup_result b, int32_t mode, file_cause cause)
{
    switch (b) {
    case BACKUP_MADE:
        return outcome_of(RESULT_OK);
    case BACKUP_EXISTS:
        return outcome_of(mode == BACKUP_KEEP_FIRST ? RESULT_OK : RESULT_BACKUP_EXISTS);
    case BACKUP_FAILED:
        break;
    }
    return outcome_of(RESULT_BACKUP_FAILED, -1, cause);
}

// A scan of the written file, quiet: its diagnostics would repeat the first
// scan's.
patch_result rescan(const char *path, patch_target **after)
{
    std::FILE *saved = scan_diagnostics;
    std::FILE *sink = open_null_sink();
    if (sink != nullptr)
        scan_diagnostics = sink;
    patch_result r = scan_file(path, after);
    scan_diagnostics = saved;
    if (sink != nullptr)
        (void)std::fclose(sink);  // nothing of value went to it
    return r;
}

} // namespace

patch_result scan_file(const char *path, patch_target **out, file_cause *cause)
{
    *out = nullptr;
    patch_target *t = open_target(path, cause);
    if (t == nullptr)
        return RESULT_OPEN_FAILED;
    scan_target(t);
    if (t->file_size == 0) {
        close_target(t);
        return RESULT_EMPTY_FILE;
    }
    *out = t;
    return RESULT_OK;
}

patch_outcome patch_verify(const patch_target *plan, const patch_target *after)
{
    if (after->file_size != plan->file_size)
        return outcome_of(RESULT_VERIFY_FAILED);
    if (!site_back(plan->start_year_ofs, after->start_year_ofs, after->start_year == plan->start_year))
        return outcome_of(RESULT_VERIFY_FAILED, SITE_START_YEAR);
    if (site_usable(plan->start_year_ofs)
        && !site_back(plan->wc06_ofs, after->wc06_ofs, (after->wc06_installed != 0) == plan_installs_wc06(plan)))
        return outcome_of(RESULT_VERIFY_FAILED, SITE_WC06_FIX);
    if (!site_back(plan->bosman_year_ofs, after->bosman_year_ofs, after->bosman_year == plan->bosman_year))
        return outcome_of(RESULT_VERIFY_FAILED, SITE_BOSMAN_YEAR);
    if (!site_back(plan->click_delay_ofs, after->click_delay_ofs, after->click_delay == plan->click_delay))
        return outcome_of(RESULT_VERIFY_FAILED, SITE_CLICK_DELAY);
    if (!site_back(plan->exitgame_ofs, after->exitgame_ofs,
                   (after->exitgame_installed != 0) == (plan->exitgame_installed != 0)))
        return outcome_of(RESULT_VERIFY_FAILED, SITE_EXITGAME);
    if (conference_usable(plan)) {
        const site_id sites[2] = {SITE_CONF_COUNTS, SITE_CONF_PROMOTED};
        const int32_t planned[2] = {plan->conf_counts_ofs, plan->conf_promoted_ofs};
        const int32_t found[2] = {after->conf_counts_ofs, after->conf_promoted_ofs};
        for (int i = 0; i < 2; ++i) {
            const site_entry &e = patch_catalogue[sites[i]];
            int first = plan->touch_conference ? e.patched[0] : e.unpatched[0];
            if (found[i] != planned[i])
                return outcome_of(RESULT_VERIFY_FAILED, sites[i]);
            int got = read_byte_at(after->file, found[i]);
            if (got != first)
                return outcome_of(got < 0 ? RESULT_UNCHECKED : RESULT_VERIFY_FAILED, sites[i]);
        }
        if (after->promoted != plan->promoted)
            return outcome_of(RESULT_VERIFY_FAILED, SITE_CONF_PROMOTED);
        if (after->relegated != plan->relegated)
            return outcome_of(RESULT_VERIFY_FAILED, SITE_CONF_COUNTS);
    }
    return outcome_of(RESULT_OK);
}

patch_outcome patch_scanned(const patch_request *r, const patch_target *scanned,
                            const patch_events *events)
{
    // A file that could not be read whole is no file to write to.
    int unread = target_read_error_site(scanned);
    if (unread >= 0)
        return outcome_of(RESULT_READ_FAILED, unread);
    patch_target plan;
    // RESULT_OK, or a note for the player that holds unless a later step fails.
    const patch_outcome planned = patch_request_plan(r, scanned, &plan);
    if (result_kind_of(planned.result) != RESULT_KIND_OK)
        return planned;
    // Every refusal comes before anything is promised, backed up or written,
    // and a dry run meets the same ones: the writer's checks, a file that
    // cannot be opened for writing, a backup that cannot be made.
    patch_result checked = check_before_write(&plan);
    if (checked != RESULT_OK)
        return outcome_of(checked);
    file_cause cause = CAUSE_NONE;
    if (!writable(plan.path, &cause))
        return outcome_of(RESULT_WRITE_OPEN_FAILED, -1, cause);
    if (r->backup != BACKUP_OFF) {
        const backup_result possible_backup = backup_check(plan.path, &cause);
        patch_outcome possible = backup_outcome(possible_backup, r->backup, cause);
        if (possible.result != RESULT_OK)
            return possible;
    }
    if (events != nullptr && events->planned != nullptr && !events->planned(events->ctx, scanned, &plan))
        return outcome_of(RESULT_REPORT_FAILED);
    if (r->dry_run)
        return planned;

    if (r->backup != BACKUP_OFF) {
        const backup_result backup = backup_file(plan.path, &cause);
        patch_outcome backed_up = backup_outcome(backup, r->backup, cause);
        if (backed_up.result != RESULT_OK)
            return backed_up;
        if (events != nullptr && events->backed_up != nullptr)
            events->backed_up(events->ctx);
    }

    write_report report{};
    patch_result written = write_patches(&plan, &report);
    if (written != RESULT_OK) {
        patch_outcome o = outcome_of(written, -1, report.cause);
        o.unrestored = report.unrestored;
        o.whole_new = report.whole_new;
        o.unread = report.unread;
        o.pair_may_differ = report.pair_may_differ;
        return o;
    }

    patch_target *after = nullptr;
    // A file that cannot be opened again was written, but is not checked.
    patch_outcome verified = outcome_of(RESULT_UNCHECKED);
    if (rescan(plan.path, &after) == RESULT_OK)
        verified = target_read_error_site(after) >= 0 ? outcome_of(RESULT_UNCHECKED) : patch_verify(&plan, after);
    close_target(after);
    return verified.result == RESULT_OK ? planned : verified;
}

patch_outcome patch_file(const char *path, const patch_request *r, const patch_events *events)
{
    patch_result checked = patch_request_check(r);
    if (checked != RESULT_OK)
        return outcome_of(checked);
    patch_target *t = nullptr;
    file_cause cause = CAUSE_NONE;
    patch_result scanned = scan_file(path, &t, &cause);
    if (scanned != RESULT_OK)
        return outcome_of(scanned, -1, cause);
    patch_outcome o = patch_scanned(r, t, events);
    close_target(t);
    return o;
}
