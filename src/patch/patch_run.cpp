#include "patch/patch_run.h"

#include "patch/apply_patches.h"
#include "patch/backup.h"
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

// Refuses before a backup is made when the file cannot be written anyway,
// or its name is now another file.
patch_outcome writable(const patch_target *scanned)
{
    file_cause cause = CAUSE_NONE;
    std::FILE *probe = open_for_update(scanned->path, &cause);
    if (probe == nullptr)
        return outcome_of(RESULT_WRITE_OPEN_FAILED, -1, cause);
    const bool same = same_file(probe, scanned->file);
    if (close_file(probe) != 0)  // nothing was written through it
        return outcome_of(RESULT_WRITE_OPEN_FAILED, -1, error_cause());
    return same ? outcome_of(RESULT_OK) : outcome_of(RESULT_FILE_CHANGED, -1, CAUSE_CHANGED);
}

void say_backed_up(const patch_events *events, const backup_job &b)
{
    if (events != nullptr && events->backed_up != nullptr && (b.made || b.kept))
        events->backed_up(events->ctx, b.made);
}

// The checks, the backup and the writes, once the plan stands.
patch_outcome write_planned(const patch_request *r, const patch_target *scanned, const patch_target *plan,
                            const patch_events *events, backup_job *backup)
{
    // Every refusal comes before anything is promised, backed up or written,
    // and a dry run meets the same ones: the writer's checks, a file that
    // cannot be opened for writing, a backup that cannot be made.
    patch_result checked = check_before_write(plan);
    if (checked != RESULT_OK)
        return outcome_of(checked);
    patch_outcome o = writable(scanned);
    if (o.result == RESULT_OK && r->backup != BACKUP_OFF)
        o = backup_prepare(scanned, backup);
    if (o.result != RESULT_OK)
        return o;
    if (events != nullptr && events->planned != nullptr && !events->planned(events->ctx, scanned, plan))
        return outcome_of(RESULT_REPORT_FAILED);
    if (r->dry_run)
        return o;
    if (r->backup != BACKUP_OFF) {
        o = backup_commit(backup);
        say_backed_up(events, *backup);
        if (o.result != RESULT_OK)
            return o;
    }
    write_report report{};
    patch_result written = write_patches(plan, &report);
    if (written != RESULT_OK) {
        o = outcome_of(written, -1, report.cause);
        o.unrestored = report.unrestored;
        o.whole_new = report.whole_new;
        o.unread = report.unread;
        o.pair_may_differ = report.pair_may_differ;
    }
    return o;
}

} // namespace

// Quiet: its diagnostics would repeat the first scan's.
patch_result scan_file_quietly(const char *path, patch_target **out)
{
    std::FILE *saved = scan_diagnostics;
    std::FILE *sink = open_null_sink();
    if (sink != nullptr)
        scan_diagnostics = sink;
    patch_result r = scan_file(path, out);
    scan_diagnostics = saved;
    if (sink != nullptr)
        (void)std::fclose(sink);  // nothing of value went to it
    return r;
}

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
    backup_job backup{};
    patch_outcome written = write_planned(r, scanned, &plan, events, &backup);
    backup_release(&backup);
    if (written.result != RESULT_OK || r->dry_run)
        return written.result == RESULT_OK ? planned : written;

    patch_target *after = nullptr;
    // A file that cannot be opened again, or whose name is now another
    // file, was written, but is not checked.
    patch_outcome verified = outcome_of(RESULT_UNCHECKED);
    if (scan_file_quietly(plan.path, &after) == RESULT_OK && same_file(after->file, scanned->file))
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
