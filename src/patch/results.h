#pragma once

#include <cstddef>

// Every result of the core, from the writer up to a whole apply. The writer's
// own results keep the values it has always returned.
enum patch_result : int {
    RESULT_WC06_KEPT = 1,           // the plan's: all written, but the installed World
                                    // Cup 06 fix stays: the game's original bytes are unknown
    RESULT_OK = 0,
    RESULT_WRITE_OPEN_FAILED = -1,  // nothing written
    RESULT_WRITE_FAILED = -2,       // a write failed and could not be put back
    RESULT_FILE_CHANGED = -3,       // no longer the file that was scanned; nothing written
    RESULT_WRITE_UNDONE = -4,       // a write failed; what was written was put back
    RESULT_SITES_CLASH = -5,        // the writes would move, make or break a site

    // The request itself is wrong; found before the file is touched.
    RESULT_NOTHING_REQUESTED = 100,
    RESULT_BAD_START_YEAR,
    RESULT_BAD_BOSMAN_YEAR,
    RESULT_WC06_NEEDS_START_YEAR,
    RESULT_BAD_PROMOTED,
    RESULT_BAD_RELEGATED,
    RESULT_CONFERENCE_CONFLICT,
    RESULT_BAD_CLICK_DELAY,
    RESULT_BAD_EXITGAME,
    // The file's sites cannot take the request; nothing written.
    RESULT_SITE_ABSENT,
    RESULT_WC06_ORIGINAL_UNKNOWN,
    // The file itself.
    RESULT_OPEN_FAILED,
    RESULT_READ_FAILED,
    RESULT_EMPTY_FILE,
    RESULT_BACKUP_UNVERIFIED,  // a file has the backup's name that is no backup of this file
    RESULT_BACKUP_FAILED,
    RESULT_VERIFY_FAILED,
    RESULT_UNCHECKED,  // written, but a read error kept the read-back from checking it
    // The front end could not tell the user what it is about to write.
    RESULT_REPORT_FAILED,
    // A restore's backup: not one of this file, or not one this patcher can
    // write back exactly; or one that cannot be read.
    RESULT_BACKUP_MISMATCH,
    RESULT_BACKUP_UNREADABLE,
};
// How many results there are: those from RESULT_SITES_CLASH to
// RESULT_WC06_KEPT, and those from RESULT_NOTHING_REQUESTED on.
constexpr int RESULT_COUNT =
    (RESULT_WC06_KEPT - RESULT_SITES_CLASH + 1) + (RESULT_BACKUP_UNREADABLE - RESULT_NOTHING_REQUESTED + 1);

// What a result means for the user, and so for a front end's exit status.
enum result_kind : int {
    RESULT_KIND_OK,
    RESULT_KIND_USAGE,  // the request itself is wrong
    RESULT_KIND_SITE,   // a requested site is absent or cannot take the change
    RESULT_KIND_FILE,   // the file could not be read, written or checked
    RESULT_KIND_REPORT, // the user could not be told; nothing was written
    RESULT_KIND_COUNT
};

// Why a file could not be opened or written, as far as the system said, or
// what a refusal of the writer means for the player; CAUSE_NONE when there
// is nothing more to say.
enum file_cause : int {
    CAUSE_NONE,
    CAUSE_MISSING,      // no such file or folder
    CAUSE_IN_USE,       // another program holds it (the running game)
    CAUSE_DENIED,       // access denied, or read-only
    CAUSE_NOT_REGULAR,  // a folder or a device
    CAUSE_DISK_FULL,
    CAUSE_CHANGED,      // changed by another program since it was opened
    CAUSE_READ_BACK,    // does not read back as written
    // Why the backup copy could not be made.
    CAUSE_NAME_TOO_LONG,      // FILE.bak.partial is too long a name for the folder
    CAUSE_FOLDER_DENIED,      // the folder is read-only, or not ours to write
    CAUSE_BACKUP_HELD,        // another program holds the copy being made
    CAUSE_BACKUP_NOT_REGULAR, // FILE.bak is a folder, a device or a link
    CAUSE_BACKUP_FOREIGN,     // FILE.bak is no copy of this file as it was
    CAUSE_BACKUP_UNREADABLE,  // FILE.bak cannot be read to check it
    CAUSE_HARD_LINKED,        // the file has another name too, which may be anyone's
    CAUSE_COUNT
};

// A result, with the site it concerns (-1 when none), for an absent site why
// the scan found it so, and after a write that could not all be put back,
// read back from the file: the sites (a bit per site) that do not hold their
// old bytes, which of them hold the new bytes whole and which could not be
// read, whether the conference pair may no longer match, and the likely
// cause.
struct patch_outcome {
    patch_result result;
    int site;
    int why;
    int unrestored;
    file_cause cause;
    int whole_new;
    int unread;
    bool pair_may_differ;
};

const char *result_text(patch_result r);
// A wrong request in a front end's own words: `subject` (a flag's name, say)
// in place of the core's, then what it must be, naming `other` (the part it
// conflicts with or needs) when the rule names one. Null for either takes the
// core's words; a rule whose other part has no words is left out.
void usage_text(patch_result r, const char *subject, const char *other, char *buf, std::size_t len);
// The result as a short word for machine-readable output: "done",
// "site_absent", "write_undone"...
const char *result_code(patch_result r);
// The likely cause of a failed outcome and what the player can do about it,
// in one sentence; null when there is nothing to add to the result's text.
const char *cause_text(file_cause c);
// An outcome that says no more than its result, site and cause.
patch_outcome outcome_of(patch_result result, int site = -1, file_cause cause = CAUSE_NONE);
// The outcome's own cause, else the one its result implies.
file_cause outcome_cause(const patch_outcome &o);
result_kind result_kind_of(patch_result r);

// The words about the sites that a failed write could not put back.
enum unrestored_note : int {
    NOTE_NOT_PUT_BACK,       // before the list of such sites
    NOTE_HOLDS_NEW,          // such a site holds the new bytes whole
    NOTE_HOLDS_NEITHER,      // such a site holds neither its old nor its new bytes
    NOTE_UNREAD,             // such a site could not be read back
    NOTE_PAIR_MAY_DIFFER,    // the two conference blocks may hold no pair the scan reads
    NOTE_UNDO_FROM_BACKUP,   // a format for the file's path
    NOTE_COUNT
};
const char *unrestored_text(unrestored_note n);
