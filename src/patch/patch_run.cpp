#include "patch/patch_run.h"

#include <cstring>

#include "patch/apply_patches.h"
#include "patch/backup.h"
#include "patch/file_io.h"

namespace {

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
patch_outcome guarded_write(const patch_request *r, const patch_target *scanned, const patch_target *plan,
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
    patch_result written = apply_patches(plan, &report);
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

patch_result scan_file(const char *path, patch_target **out, file_cause *cause, const patch_events *events)
{
    *out = nullptr;
    patch_target *t = open_target(path, cause);
    if (t == nullptr)
        return RESULT_OPEN_FAILED;
    scan_target(t);
    if (events != nullptr && events->scanned != nullptr)
        events->scanned(events->ctx, t);
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
    uint8_t want[MAX_BLOCK_LEN];
    for (int site = 0; site < SITE_COUNT; ++site) {
        const site_seen &now = after->seen[site];
        if (planned_site_bytes(plan, site, want)
            && (now.ofs != target_site_ofs(plan, site)
                || std::memcmp(now.bytes, want, static_cast<std::size_t>(patch_catalogue[site].block_len)) != 0))
            return outcome_of(RESULT_VERIFY_FAILED, site);
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
    patch_outcome written = guarded_write(r, scanned, &plan, events, &backup);
    backup_release(&backup);
    if (written.result != RESULT_OK || r->dry_run)
        return written.result == RESULT_OK ? planned : written;

    patch_target *after = nullptr;
    // A file that cannot be opened again, or whose name is now another
    // file, was written, but is not checked.
    patch_outcome verified = outcome_of(RESULT_UNCHECKED);
    if (scan_file(plan.path, &after) == RESULT_OK && same_file(after->file, scanned->file))
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
    patch_result scanned = scan_file(path, &t, &cause, events);
    if (scanned != RESULT_OK)
        return outcome_of(scanned, -1, cause);
    patch_outcome o = patch_scanned(r, t, events);
    close_target(t);
    return o;
}
