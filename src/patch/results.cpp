#include "patch/results.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "patch/fixed_text.h"
#include "patch/rules.h"

namespace {

// The rules of a request, with their numbers from rules.h.
constexpr auto year_rule = with_numbers(" must be a year from %d to %d", YEAR_MIN, YEAR_MAX);
constexpr auto promoted_rule = with_numbers(" must be from %d to %d", PROMOTED_MIN, PROMOTED_MAX);
constexpr auto relegated_rule = with_numbers(" must be from %d to %d", RELEGATED_MIN, RELEGATED_MAX);
constexpr auto click_delay_rule =
    with_numbers(" must be from %d to %d, or off", CLICK_DELAY_MIN, CLICK_DELAY_MAX);
constexpr auto wc06_unknown = with_numbers(
    "a start year before %d would remove the installed fix, but the game's original code "
    "is not known; nothing was written",
    WC06_FIRST_YEAR);

struct result_entry {
    patch_result result;
    const char *code;  // for machine-readable output
    result_kind kind;
    // The whole text; for a wrong request what it is about, followed by `rule`.
    const char *text;
    // What that must be; a %s in it stands for `other`, the request's part
    // that it conflicts with or needs.
    const char *rule;
    const char *other;
};

const result_entry result_table[] = {
    {RESULT_OK, "done", RESULT_KIND_OK, "done", nullptr, nullptr},
    {RESULT_WC06_KEPT, "wc06_kept", RESULT_KIND_OK,
     "The World Cup 06 fix could not be removed: the game's original code is not known. "
     "Everything else was written.",
     nullptr, nullptr},
    {RESULT_NOTHING_REQUESTED, "nothing_requested", RESULT_KIND_USAGE, "no change requested",
     ": give at least one of %s", nullptr},
    {RESULT_BAD_START_YEAR, "bad_start_year", RESULT_KIND_USAGE, "the start year", year_rule.text, nullptr},
    {RESULT_BAD_BOSMAN_YEAR, "bad_bosman_year", RESULT_KIND_USAGE, "the Bosman year", year_rule.text, nullptr},
    {RESULT_WC06_NEEDS_START_YEAR, "wc06_needs_start_year", RESULT_KIND_USAGE, "the World Cup 06 fix",
     " needs %s: the fix is written to match the start year", "a start year"},
    {RESULT_BAD_PROMOTED, "bad_promoted", RESULT_KIND_USAGE, "the promoted count", promoted_rule.text, nullptr},
    {RESULT_BAD_RELEGATED, "bad_relegated", RESULT_KIND_USAGE, "the relegated count", relegated_rule.text,
     nullptr},
    {RESULT_CONFERENCE_CONFLICT, "conference_conflict", RESULT_KIND_USAGE, "the game's conference code",
     " cannot be combined with %s", "new counts"},
    {RESULT_BAD_CLICK_DELAY, "bad_click_delay", RESULT_KIND_USAGE, "the click delay", click_delay_rule.text,
     nullptr},
    {RESULT_BAD_EXITGAME, "bad_exit_fix", RESULT_KIND_USAGE, "the exit fix", " must be on or off", nullptr},
    {RESULT_SITE_ABSENT, "site_absent", RESULT_KIND_SITE, "cannot be used; nothing was written", nullptr, nullptr},
    {RESULT_WC06_ORIGINAL_UNKNOWN, "wc06_original_unknown", RESULT_KIND_SITE, wc06_unknown.text, nullptr, nullptr},
    {RESULT_SITES_CLASH, "sites_clash", RESULT_KIND_SITE,
     "these changes would alter where the patch sites are found (a value, or a step on the way to it, "
     "would form or break a copy of a signature); nothing was written",
     nullptr, nullptr},
    {RESULT_OPEN_FAILED, "open_failed", RESULT_KIND_FILE, "cannot be opened for reading", nullptr, nullptr},
    {RESULT_READ_FAILED, "read_failed", RESULT_KIND_FILE, "could not be read", nullptr, nullptr},
    {RESULT_EMPTY_FILE, "empty_file", RESULT_KIND_FILE, "the file is empty", nullptr, nullptr},
    {RESULT_BACKUP_UNVERIFIED, "backup_unverified", RESULT_KIND_FILE,
     "the file with the backup's name is not a backup of this file; it is kept as it is, and nothing was written",
     nullptr, nullptr},
    {RESULT_BACKUP_FAILED, "backup_failed", RESULT_KIND_FILE, "the backup could not be made; nothing was written",
     nullptr, nullptr},
    {RESULT_WRITE_OPEN_FAILED, "write_open_failed", RESULT_KIND_FILE,
     "cannot be opened for writing; nothing was written", nullptr, nullptr},
    {RESULT_WRITE_FAILED, "write_failed", RESULT_KIND_FILE,
     "writing failed part-way: the file may be only partly changed", nullptr, nullptr},
    {RESULT_WRITE_UNDONE, "write_undone", RESULT_KIND_FILE,
     "writing failed; what had been written was put back, so the file is as it was", nullptr, nullptr},
    {RESULT_FILE_CHANGED, "file_changed", RESULT_KIND_FILE,
     "the file changed since it was read; nothing was written", nullptr, nullptr},
    {RESULT_VERIFY_FAILED, "verify_failed", RESULT_KIND_FILE, "does not read back as written", nullptr, nullptr},
    {RESULT_UNCHECKED, "unchecked", RESULT_KIND_FILE, "was written, but could not be read back to check it",
     nullptr, nullptr},
    {RESULT_REPORT_FAILED, "report_failed", RESULT_KIND_REPORT,
     "the plan could not be reported; nothing was written", nullptr, nullptr},
    {RESULT_BACKUP_MISMATCH, "backup_mismatch", RESULT_KIND_SITE,
     "the backup does not fit this file (it differs outside the patched places, or holds what cannot be "
     "written back exactly); nothing was written",
     nullptr, nullptr},
    {RESULT_BACKUP_UNREADABLE, "backup_unreadable", RESULT_KIND_FILE,
     "the backup cannot be read; nothing was written", nullptr, nullptr},
};
static_assert(std::size(result_table) == RESULT_COUNT, "a text for every result");

constexpr std::size_t USAGE_TEXT_SIZE = 192;
// The whole texts of wrong requests, made when first asked for.
char usage_texts[std::size(result_table)][USAGE_TEXT_SIZE];

const result_entry *find_result(patch_result r)
{
    for (const result_entry &e : result_table)
        if (e.result == r)
            return &e;
    return nullptr;
}

// By file_cause.
const char *const cause_texts[] = {
    nullptr,
    "The file is not there: it was moved, renamed or deleted.",
    "Another program is using the file, most likely the game: close it and try again.",
#ifdef _WIN32
    "Access denied: clear the file's read-only attribute (Properties) or check the folder's permissions.",
#else
    "Permission denied: make the file readable and writable (chmod u+rw, as its owner) or check the folder's permissions.",
#endif
    "This is not a regular file (a folder or a device).",
    "The disk is full: free some space and try again.",
    "Another program changed the file since the patcher read it: run the patcher again.",
    "The file does not hold what was written: the disk may be failing; put the backup copy back.",
    "The backup copy's name would be too long for the folder: give the file a shorter name, or copy it by hand.",
    "The folder cannot be written to (read-only, or no permission): check the folder's permissions.",
    "Another program (a virus scanner or a sync client) holds the backup copy being made: try again in a moment.",
    "A folder, a device or a link has the backup copy's name: move it away and try again.",
    "Move FILE.bak away and run again: it is no copy of this file (it differs outside the patched places).",
    "The file with the backup's name cannot be read to check it: move it away and try again.",
    "The file has another name too (a hard link), so its backup could show it to others: patch a copy of its own.",
};
static_assert(std::size(cause_texts) == CAUSE_COUNT, "a text for every cause");

// By unrestored_note.
const char *const note_texts[] = {
    "not put back:",
    "holds the new bytes",
    "holds neither its old nor its new bytes: run the same change again",
    "could not be read back",
    "the two conference blocks may no longer match; a backup copy of the file is the way back",
    "To undo it, copy %s.bak back over the file.",
};
static_assert(std::size(note_texts) == NOTE_COUNT, "a text for every note");

} // namespace

const char *cause_text(file_cause c)
{
    return c >= 0 && c < CAUSE_COUNT ? cause_texts[c] : nullptr;
}

const char *unrestored_text(unrestored_note n)
{
    return note_texts[n];
}

patch_outcome outcome_of(patch_result result, int site, file_cause cause)
{
    return patch_outcome{result, site, 0, 0, cause, 0, 0, false};  // why 0: no site absent
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

void usage_text(patch_result r, const char *subject, const char *other, char *buf, std::size_t len)
{
    const result_entry *e = find_result(r);
    if (e == nullptr || e->rule == nullptr) {
        std::snprintf(buf, len, "%s", result_text(r));
        return;
    }
    other = other != nullptr ? other : e->other;
    const char *slot = std::strstr(e->rule, "%s");
    const char *s = subject != nullptr ? subject : e->text;
    if (slot == nullptr)
        std::snprintf(buf, len, "%s%s", s, e->rule);
    else if (other == nullptr)
        std::snprintf(buf, len, "%s", s);
    else
        std::snprintf(buf, len, "%s%.*s%s%s", s, static_cast<int>(slot - e->rule), e->rule, other, slot + 2);
}

const char *result_text(patch_result r)
{
    const result_entry *e = find_result(r);
    if (e == nullptr)
        return "unknown result";
    if (e->rule == nullptr)
        return e->text;
    char *text = usage_texts[e - result_table];
    usage_text(r, nullptr, nullptr, text, USAGE_TEXT_SIZE);
    return text;
}

result_kind result_kind_of(patch_result r)
{
    const result_entry *e = find_result(r);
    return e != nullptr ? e->kind : RESULT_KIND_FILE;
}
