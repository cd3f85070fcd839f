#include "patch/results.h"

namespace {

struct result_entry {
    patch_result result;
    const char *code;  // for machine-readable output
    result_kind kind;
    const char *text;
};

const result_entry result_table[] = {
    {RESULT_OK, "done", RESULT_KIND_OK, "done"},
    {RESULT_WC06_KEPT, "wc06_kept", RESULT_KIND_OK,
     "The World Cup 06 fix could not be removed: the game's original code is not known. "
     "Everything else was written."},
    {RESULT_NOTHING_REQUESTED, "nothing_requested", RESULT_KIND_USAGE, "no change requested"},
    {RESULT_BAD_START_YEAR, "bad_start_year", RESULT_KIND_USAGE, "the start year must be from 2000 to 29999"},
    {RESULT_BAD_BOSMAN_YEAR, "bad_bosman_year", RESULT_KIND_USAGE, "the Bosman year must be from 2000 to 29999"},
    {RESULT_WC06_NEEDS_START_YEAR, "wc06_needs_start_year", RESULT_KIND_USAGE,
     "the World Cup 06 fix is written to match the start year, so it needs one"},
    {RESULT_BAD_PROMOTED, "bad_promoted", RESULT_KIND_USAGE, "the promoted count must be from 1 to 7"},
    {RESULT_BAD_RELEGATED, "bad_relegated", RESULT_KIND_USAGE, "the relegated count must be from 0 to 7"},
    {RESULT_CONFERENCE_CONFLICT, "conference_conflict", RESULT_KIND_USAGE,
     "the game's conference code cannot be put back together with new counts"},
    {RESULT_BAD_CLICK_DELAY, "bad_click_delay", RESULT_KIND_USAGE, "the click delay must be from 1 to 6, or off"},
    {RESULT_BAD_EXIT_FIX, "bad_exit_fix", RESULT_KIND_USAGE, "the exit fix must be on or off"},
    {RESULT_SITE_ABSENT, "site_absent", RESULT_KIND_SITE, "cannot be used; nothing was written"},
    {RESULT_WC06_ORIGINAL_UNKNOWN, "wc06_original_unknown", RESULT_KIND_SITE,
     "a start year before 2003 would remove the installed fix, but the game's original code "
     "is not known; nothing was written"},
    {RESULT_SITES_CLASH, "sites_clash", RESULT_KIND_SITE,
     "these changes would alter where the patch sites are found (sites overlap, or a value, or a "
     "step on the way to it, would form or break a copy of a signature); nothing was written"},
    {RESULT_OPEN_FAILED, "open_failed", RESULT_KIND_FILE,
     "cannot be opened for reading"},
    {RESULT_READ_FAILED, "read_failed", RESULT_KIND_FILE, "could not be read"},
    {RESULT_EMPTY_FILE, "empty_file", RESULT_KIND_FILE, "the file is empty"},
    {RESULT_BACKUP_EXISTS, "backup_exists", RESULT_KIND_FILE,
     "the backup file already exists and is kept as it is; nothing was written"},
    {RESULT_BACKUP_FAILED, "backup_failed", RESULT_KIND_FILE, "the backup could not be made; nothing was written"},
    {RESULT_WRITE_OPEN_FAILED, "write_open_failed", RESULT_KIND_FILE,
     "cannot be opened for writing; nothing was written"},
    {RESULT_WRITE_FAILED, "write_failed", RESULT_KIND_FILE,
     "writing failed part-way: the file may be only partly changed"},
    {RESULT_WRITE_UNDONE, "write_undone", RESULT_KIND_FILE,
     "writing failed; what had been written was put back, so the file is as it was"},
    {RESULT_FILE_CHANGED, "file_changed", RESULT_KIND_FILE,
     "the file changed while it was being patched; nothing was written"},
    {RESULT_VERIFY_FAILED, "verify_failed", RESULT_KIND_FILE, "does not read back as written"},
    {RESULT_UNCHECKED, "unchecked", RESULT_KIND_FILE, "was written, but could not be read back to check it"},
    {RESULT_REPORT_FAILED, "report_failed", RESULT_KIND_REPORT, "the plan could not be reported; nothing was written"},
};

const result_entry *find_result(patch_result r)
{
    for (const result_entry &e : result_table)
        if (e.result == r)
            return &e;
    return nullptr;
}

struct cause_entry {
    file_cause cause;
    const char *text;
};

const cause_entry cause_table[] = {
    {CAUSE_MISSING, "The file is not there: it was moved, renamed or deleted."},
    {CAUSE_IN_USE, "Another program is using the file, most likely the game: close it and try again."},
    {CAUSE_DENIED,
     "Access denied: clear the file's read-only attribute (Properties) or check the folder's permissions."},
    {CAUSE_NOT_REGULAR, "This is not a regular file (a folder or a device)."},
    {CAUSE_DISK_FULL, "The disk is full: free some space and try again."},
    {CAUSE_CHANGED, "Another program changed the file since the patcher opened it: run the patcher again."},
    {CAUSE_READ_BACK,
     "The file does not hold what was written: the disk may be failing; put the backup copy back."},
    {CAUSE_NAME_TOO_LONG,
     "The backup copy's name would be too long for the folder: give the file a shorter name, or copy it by hand."},
    {CAUSE_FOLDER_DENIED,
     "The folder cannot be written to (read-only, or no permission): check the folder's permissions."},
    {CAUSE_BACKUP_HELD,
     "Another program (a virus scanner or a sync client) holds the backup copy being made: try again in a moment."},
    {CAUSE_BACKUP_NOT_REGULAR, "A folder or a device has the backup copy's name: move it away and try again."},
};

} // namespace

const char *cause_text(file_cause c)
{
    for (const cause_entry &e : cause_table)
        if (e.cause == c)
            return e.text;
    return nullptr;
}

patch_outcome outcome_of(patch_result result, int site, file_cause cause)
{
    return patch_outcome{result, site, 0, 0, cause, 0};  // why 0: no site absent
}

file_cause outcome_cause(const patch_outcome &o)
{
    if (o.cause != CAUSE_NONE)
        return o.cause;
    if (o.result == RESULT_FILE_CHANGED)
        return CAUSE_CHANGED;
    return o.result == RESULT_VERIFY_FAILED ? CAUSE_READ_BACK : CAUSE_NONE;
}

const char *result_code(patch_result r)
{
    const result_entry *e = find_result(r);
    return e != nullptr ? e->code : "unknown";
}

const char *result_text(patch_result r)
{
    const result_entry *e = find_result(r);
    return e != nullptr ? e->text : "unknown result";
}

result_kind result_kind_of(patch_result r)
{
    const result_entry *e = find_result(r);
    return e != nullptr ? e->kind : RESULT_KIND_FILE;
}
