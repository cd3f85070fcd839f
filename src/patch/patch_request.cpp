#include "patch/patch_request.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "patch/apply_patches.h"
#include "patch/close_file.h"
#include "patch/file_length.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

struct result_entry {
    int result;
    result_kind kind;
    const char *text;
};

const result_entry result_table[] = {
    {REQUEST_OK, RESULT_KIND_OK, "done"},
    {REQUEST_NOTHING_REQUESTED, RESULT_KIND_USAGE,
     "no change requested: give at least one of --start-year, --bosman-year, --wc06, "
     "--promoted, --relegated, --conference-original, --click-delay, --exit-fix"},
    {REQUEST_BAD_START_YEAR, RESULT_KIND_USAGE, "--start-year must be a year from 2000 to 29999"},
    {REQUEST_BAD_BOSMAN_YEAR, RESULT_KIND_USAGE, "--bosman-year must be a year from 2000 to 29999"},
    {REQUEST_WC06_NEEDS_START_YEAR, RESULT_KIND_USAGE,
     "--wc06 needs --start-year: the fix is written to match the start year"},
    {REQUEST_BAD_PROMOTED, RESULT_KIND_USAGE, "--promoted must be from 1 to 7"},
    {REQUEST_BAD_RELEGATED, RESULT_KIND_USAGE, "--relegated must be from 0 to 7"},
    {REQUEST_CONFERENCE_CONFLICT, RESULT_KIND_USAGE,
     "--conference-original cannot be combined with --promoted or --relegated"},
    {REQUEST_BAD_CLICK_DELAY, RESULT_KIND_USAGE, "--click-delay must be from 1 to 6, or off"},
    {REQUEST_BAD_EXIT_FIX, RESULT_KIND_USAGE, "--exit-fix must be on or off"},
    {REQUEST_SITE_ABSENT, RESULT_KIND_SITE,
     "not found exactly once in the file, or holds code that is not recognised; nothing was written"},
    {REQUEST_WC06_ORIGINAL_UNKNOWN, RESULT_KIND_SITE,
     "a start year before 2003 would remove the installed fix, but the game's original code "
     "is not known; nothing was written"},
    {REQUEST_SITES_CLASH, RESULT_KIND_SITE,
     "these changes would alter where the patch sites are found (sites overlap, or a value would "
     "form or break a copy of a signature); nothing was written"},
    {REQUEST_OPEN_FAILED, RESULT_KIND_FILE,
     "cannot be opened for reading (missing, unreadable or not a regular file)"},
    {REQUEST_EMPTY_FILE, RESULT_KIND_FILE, "the file is empty"},
    {REQUEST_BACKUP_EXISTS, RESULT_KIND_FILE,
     "the backup file already exists and is kept as it is; nothing was written"},
    {REQUEST_BACKUP_FAILED, RESULT_KIND_FILE, "the backup could not be made; nothing was written"},
    {REQUEST_WRITE_OPEN_FAILED, RESULT_KIND_FILE,
     "cannot be opened for writing (read-only or in use); nothing was written"},
    {REQUEST_WRITE_FAILED, RESULT_KIND_FILE,
     "writing failed part-way: the file may be only partly changed"},
    {REQUEST_WRITE_UNDONE, RESULT_KIND_FILE,
     "writing failed; what had been written was put back, so the file is as it was"},
    {REQUEST_FILE_CHANGED, RESULT_KIND_FILE,
     "the file changed while it was being patched; nothing was written"},
    {REQUEST_VERIFY_FAILED, RESULT_KIND_FILE, "does not read back as written"},
};

const result_entry *find_result(int result)
{
    for (const result_entry &e : result_table)
        if (e.result == result)
            return &e;
    return nullptr;
}

const char *const site_labels[SITE_COUNT] = {
    "start year", "World Cup 06 fix", "Bosman year", "click delay",
    "exit fix",   "conference counts", "conference promoted count",
};

bool year_ok(int32_t y)
{
    return y >= 2000 && y <= 29999;
}

bool conference_requested(const patch_request *r)
{
    return r->promoted.set || r->relegated.set || r->conference_original;
}

bool nothing_requested(const patch_request *r)
{
    return !r->start_year.set && !r->bosman_year.set && !r->wc06 && !conference_requested(r)
           && !r->click_delay.set && !r->exit_fix.set;
}

request_outcome outcome(int result, int site = -1)
{
    return request_outcome{result, site};
}

// The first requested site that the scan did not find usable.
int first_absent_site(const patch_request *r, const patch_target *t)
{
    if (r->start_year.set && t->start_year_ofs <= 0)
        return SITE_START_YEAR;
    if (r->wc06 && t->wc06_ofs <= 0)
        return SITE_WC06_FIX;
    if (r->bosman_year.set && t->bosman_year_ofs <= 0)
        return SITE_BOSMAN_YEAR;
    if (r->click_delay.set && t->click_delay_ofs <= 0)
        return SITE_CLICK_DELAY;
    if (r->exit_fix.set && t->exitgame_ofs <= 0)
        return SITE_EXITGAME;
    if (conference_requested(r) && t->conf_counts_ofs <= 0)
        return SITE_CONF_COUNTS;
    if (conference_requested(r) && t->conf_promoted_ofs <= 0)
        return SITE_CONF_PROMOTED;
    return -1;
}

int read_byte_at(std::FILE *f, int32_t ofs)
{
    uint8_t b = 0;
    if (std::fseek(f, ofs, SEEK_SET) != 0 || std::fread(&b, 1, 1, f) != 1)
        return -1;
    return b;
}

bool wc06_wanted(const patch_target *plan)
{
    return plan->start_year >= WC06_FIRST_YEAR;
}

void print_site_line(std::FILE *out, int site, int32_t ofs, const char *before, const char *after)
{
    std::fprintf(out, "  %-14s at 0x%08x (%d): %s -> %s%s\n", patch_catalogue[site].name,
                 static_cast<unsigned>(ofs), ofs, before, after,
                 std::strcmp(before, after) == 0 ? " (no change)" : "");
}

// A handle that swallows output, so the read-back scan does not repeat the
// first scan's diagnostics; null when there is none.
std::FILE *open_null_sink()
{
#ifdef _WIN32
    return std::fopen("NUL", "w");
#else
    return std::fopen("/dev/null", "w");
#endif
}

std::FILE *create_new(const char *path)
{
#ifdef _WIN32
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE *f = _fdopen(fd, "wb");
    if (f == nullptr)
        _close(fd);
#else
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        return nullptr;
    std::FILE *f = fdopen(fd, "wb");
    if (f == nullptr)
        close(fd);
#endif
    return f;
}

bool copy_stream(std::FILE *from, std::FILE *to)
{
    uint8_t chunk[16384];
    for (;;) {
        std::size_t n = std::fread(chunk, 1, sizeof chunk, from);
        if (n > 0 && std::fwrite(chunk, 1, n, to) != n)
            return false;
        if (n < sizeof chunk)
            return std::ferror(from) == 0;
    }
}

request_outcome map_apply_result(int applied)
{
    switch (applied) {
    case APPLY_OK:
        return outcome(REQUEST_OK);
    case APPLY_OPEN_FAILED:
        return outcome(REQUEST_WRITE_OPEN_FAILED);
    case APPLY_FILE_CHANGED:
        return outcome(REQUEST_FILE_CHANGED);
    case APPLY_SITES_CLASH:
        return outcome(REQUEST_SITES_CLASH);
    case APPLY_WRITE_UNDONE:
        return outcome(REQUEST_WRITE_UNDONE);
    case APPLY_WC06_KEPT:
        // The plan rules this out; if it happens the fix did not read back.
        return outcome(REQUEST_VERIFY_FAILED, SITE_WC06_FIX);
    default:
        return outcome(REQUEST_WRITE_FAILED);
    }
}

} // namespace

void patch_request_init(patch_request *r)
{
    std::memset(r, 0, sizeof *r);
}

int patch_request_check(const patch_request *r)
{
    if (nothing_requested(r))
        return REQUEST_NOTHING_REQUESTED;
    if (r->start_year.set && !year_ok(r->start_year.value))
        return REQUEST_BAD_START_YEAR;
    if (r->bosman_year.set && !year_ok(r->bosman_year.value))
        return REQUEST_BAD_BOSMAN_YEAR;
    if (r->wc06 && !r->start_year.set)
        return REQUEST_WC06_NEEDS_START_YEAR;
    if (r->conference_original && (r->promoted.set || r->relegated.set))
        return REQUEST_CONFERENCE_CONFLICT;
    if (r->promoted.set && (r->promoted.value < 1 || r->promoted.value > 7))
        return REQUEST_BAD_PROMOTED;
    if (r->relegated.set && (r->relegated.value < 0 || r->relegated.value > 7))
        return REQUEST_BAD_RELEGATED;
    if (r->click_delay.set && r->click_delay.value != CLICK_DELAY_OFF
        && (r->click_delay.value < 1 || r->click_delay.value > 6))
        return REQUEST_BAD_CLICK_DELAY;
    if (r->exit_fix.set && r->exit_fix.value != 0 && r->exit_fix.value != 1)
        return REQUEST_BAD_EXIT_FIX;
    return REQUEST_OK;
}

int scan_file(const char *path, patch_target **out)
{
    *out = nullptr;
    patch_target *t = open_target(path);
    if (t == nullptr)
        return REQUEST_OPEN_FAILED;
    if (file_length(t->file) == 0) {
        close_target(t);
        return REQUEST_EMPTY_FILE;
    }
    scan_target(t);
    *out = t;
    return REQUEST_OK;
}

request_outcome patch_request_plan(const patch_request *r, const patch_target *scanned,
                                   patch_target *plan)
{
    *plan = *scanned;
    int checked = patch_request_check(r);
    if (checked != REQUEST_OK)
        return outcome(checked);
    int absent = first_absent_site(r, scanned);
    if (absent >= 0)
        return outcome(REQUEST_SITE_ABSENT, absent);
    // Going back before 2003 means writing the game's own block, which we
    // only have when the scan saw it in the file.
    if (r->wc06 && r->start_year.value < WC06_FIRST_YEAR && scanned->wc06_installed
        && !scanned->wc06_original_known)
        return outcome(REQUEST_WC06_ORIGINAL_UNKNOWN, SITE_WC06_FIX);

    if (r->start_year.set)
        plan->start_year = static_cast<int16_t>(r->start_year.value);
    else
        plan->start_year_ofs = -1;
    if (!r->wc06)
        plan->wc06_ofs = -1;
    if (r->bosman_year.set)
        plan->bosman_year = static_cast<int16_t>(r->bosman_year.value);
    else
        plan->bosman_year_ofs = -1;
    if (r->click_delay.set)
        plan->click_delay = static_cast<int8_t>(
            r->click_delay.value == CLICK_DELAY_OFF ? -1 : r->click_delay.value);
    else
        plan->click_delay_ofs = -1;
    if (r->exit_fix.set)
        plan->exitgame_installed = r->exit_fix.value;
    else
        plan->exitgame_ofs = -1;

    if (!conference_requested(r)) {
        plan->conf_counts_ofs = -1;
        plan->conf_promoted_ofs = -1;
    } else if (r->conference_original) {
        plan->touch_conference = 0;
        plan->promoted = 1;
        plan->relegated = 3;
    } else {
        // A count not given keeps what the file holds now.
        plan->touch_conference = 1;
        if (r->promoted.set)
            plan->promoted = static_cast<int8_t>(r->promoted.value);
        if (r->relegated.set)
            plan->relegated = static_cast<int8_t>(r->relegated.value);
    }
    return outcome(REQUEST_OK);
}

void patch_request_describe(const patch_target *scanned, const patch_target *plan,
                            std::FILE *out)
{
    char before[64];
    char after[64];
    for (int site = 0; site < SITE_COUNT; ++site) {
        int32_t ofs = target_site_ofs(plan, site);
        if (ofs <= 0)
            continue;
        site_state_words(scanned, site, before, sizeof before);
        if (site == SITE_WC06_FIX) {
            std::snprintf(after, sizeof after, "%s", wc06_wanted(plan) ? "installed" : "not installed");
        } else if ((site == SITE_CONF_COUNTS || site == SITE_CONF_PROMOTED) && !plan->touch_conference) {
            std::snprintf(after, sizeof after, "game's code");
        } else {
            site_state_words(plan, site, after, sizeof after);
        }
        print_site_line(out, site, ofs, before, after);
    }
}

request_outcome patch_request_verify(const patch_target *plan, const patch_target *after)
{
    if (after->file_size != plan->file_size)
        return outcome(REQUEST_VERIFY_FAILED);
    if (plan->start_year_ofs > 0
        && (after->start_year_ofs != plan->start_year_ofs || after->start_year != plan->start_year))
        return outcome(REQUEST_VERIFY_FAILED, SITE_START_YEAR);
    if (plan->start_year_ofs > 0 && plan->wc06_ofs > 0
        && (after->wc06_ofs != plan->wc06_ofs || (after->wc06_installed != 0) != wc06_wanted(plan)))
        return outcome(REQUEST_VERIFY_FAILED, SITE_WC06_FIX);
    if (plan->bosman_year_ofs > 0
        && (after->bosman_year_ofs != plan->bosman_year_ofs || after->bosman_year != plan->bosman_year))
        return outcome(REQUEST_VERIFY_FAILED, SITE_BOSMAN_YEAR);
    if (plan->click_delay_ofs > 0
        && (after->click_delay_ofs != plan->click_delay_ofs || after->click_delay != plan->click_delay))
        return outcome(REQUEST_VERIFY_FAILED, SITE_CLICK_DELAY);
    if (plan->exitgame_ofs > 0
        && (after->exitgame_ofs != plan->exitgame_ofs
            || (after->exitgame_installed != 0) != (plan->exitgame_installed != 0)))
        return outcome(REQUEST_VERIFY_FAILED, SITE_EXITGAME);
    if (plan->conf_counts_ofs > 0 && plan->conf_promoted_ofs > 0) {
        const int variant = plan->touch_conference ? 1 : 0;
        const site_id sites[2] = {SITE_CONF_COUNTS, SITE_CONF_PROMOTED};
        const int32_t planned[2] = {plan->conf_counts_ofs, plan->conf_promoted_ofs};
        const int32_t found[2] = {after->conf_counts_ofs, after->conf_promoted_ofs};
        for (int i = 0; i < 2; ++i) {
            const site_entry &e = patch_catalogue[sites[i]];
            int first = variant ? e.patched[0] : e.unpatched[0];
            if (found[i] != planned[i] || read_byte_at(after->file, found[i]) != first)
                return outcome(REQUEST_VERIFY_FAILED, sites[i]);
        }
        if (after->promoted != plan->promoted)
            return outcome(REQUEST_VERIFY_FAILED, SITE_CONF_PROMOTED);
        if (after->relegated != plan->relegated)
            return outcome(REQUEST_VERIFY_FAILED, SITE_CONF_COUNTS);
    }
    return outcome(REQUEST_OK);
}

int backup_file(const char *path)
{
    std::size_t len = std::strlen(path);
    char *bak = static_cast<char *>(std::malloc(len + 5));
    if (bak == nullptr)
        return REQUEST_BACKUP_FAILED;
    std::snprintf(bak, len + 5, "%s.bak", path);

    int result = REQUEST_BACKUP_FAILED;
    std::FILE *from = std::fopen(path, "rb");
    std::FILE *to = from != nullptr ? create_new(bak) : nullptr;
    if (from != nullptr && to == nullptr && errno == EEXIST)
        result = REQUEST_BACKUP_EXISTS;
    if (to != nullptr) {
        bool copied = copy_stream(from, to);
        bool closed = close_file(to) == 0;
        if (copied && closed)
            result = REQUEST_OK;
        else
            std::remove(bak);  // ours, and incomplete
    }
    if (from != nullptr)
        (void)close_file(from);  // opened for reading: nothing to lose
    std::free(bak);
    return result;
}

request_outcome patch_request_run(const char *path, const patch_request *r, std::FILE *report)
{
    int checked = patch_request_check(r);
    if (checked != REQUEST_OK)
        return outcome(checked);
    patch_target *t = nullptr;
    int scanned = scan_file(path, &t);
    if (scanned != REQUEST_OK)
        return outcome(scanned);

    patch_target plan;
    request_outcome planned = patch_request_plan(r, t, &plan);
    if (planned.result != REQUEST_OK) {
        close_target(t);
        return planned;
    }
    std::fprintf(report, r->dry_run ? "Would write:\n" : "Writing:\n");
    patch_request_describe(t, &plan, report);
    if (r->dry_run) {
        std::fprintf(report, "Dry run: nothing was written%s.\n", r->backup ? " and no backup made" : "");
        close_target(t);
        return outcome(REQUEST_OK);
    }

    // Refuse before a backup is made when the file cannot be written anyway.
    std::FILE *probe = std::fopen(path, "rb+");
    if (probe == nullptr || close_file(probe) != 0) {
        close_target(t);
        return outcome(REQUEST_WRITE_OPEN_FAILED);
    }
    if (r->backup) {
        int backed_up = backup_file(path);
        if (backed_up != REQUEST_OK) {
            close_target(t);
            return outcome(backed_up);
        }
        std::fprintf(report, "Backup written to %s.bak\n", path);
    }

    request_outcome written = map_apply_result(apply_patches(&plan));
    if (written.result != REQUEST_OK) {
        close_target(t);
        return written;
    }

    std::FILE *saved = scan_diagnostics;
    std::FILE *sink = open_null_sink();
    if (sink != nullptr)
        scan_diagnostics = sink;
    patch_target *after = nullptr;
    int rescanned = scan_file(path, &after);
    scan_diagnostics = saved;
    if (sink != nullptr)
        (void)std::fclose(sink);  // nothing of value went to it

    request_outcome verified = outcome(REQUEST_VERIFY_FAILED);
    if (rescanned == REQUEST_OK)
        verified = patch_request_verify(&plan, after);
    close_target(after);
    close_target(t);
    if (verified.result == REQUEST_OK)
        std::fprintf(report, "Checked: every written site reads back as requested.\n");
    return verified;
}

const char *request_result_message(int result)
{
    const result_entry *e = find_result(result);
    return e != nullptr ? e->text : "unknown result";
}

result_kind request_result_kind(int result)
{
    const result_entry *e = find_result(result);
    return e != nullptr ? e->kind : RESULT_KIND_FILE;
}

const char *site_label(int site)
{
    return site >= 0 && site < SITE_COUNT ? site_labels[site] : "file";
}

void site_state_words(const patch_target *t, int site, char *buf, std::size_t len)
{
    switch (site) {
    case SITE_START_YEAR:
        if (t->start_year_ofs > 0) {
            std::snprintf(buf, len, "year %d", t->start_year);
            return;
        }
        break;
    case SITE_BOSMAN_YEAR:
        if (t->bosman_year_ofs > 0) {
            std::snprintf(buf, len, "year %d", t->bosman_year);
            return;
        }
        break;
    case SITE_WC06_FIX:
        if (t->wc06_ofs > 0) {
            std::snprintf(buf, len, "%s", t->wc06_installed ? "installed" : "not installed");
            return;
        }
        break;
    case SITE_CLICK_DELAY:
        if (t->click_delay_ofs > 0) {
            if (t->click_delay == -1)
                std::snprintf(buf, len, "not installed");
            else if (t->click_delay >= 1)
                std::snprintf(buf, len, "delay %d", t->click_delay);
            else
                std::snprintf(buf, len, "installed, delay not recognised");
            return;
        }
        if (t->click_delay == -2) {
            std::snprintf(buf, len, "absent (code not recognised)");
            return;
        }
        break;
    case SITE_EXITGAME:
        if (t->exitgame_ofs > 0) {
            std::snprintf(buf, len, "%s", t->exitgame_installed ? "installed" : "not installed");
            return;
        }
        break;
    case SITE_CONF_COUNTS:
        if (t->conf_counts_ofs > 0) {
            std::snprintf(buf, len, "promoted %d, relegated %d", t->promoted, t->relegated);
            return;
        }
        break;
    case SITE_CONF_PROMOTED:
        if (t->conf_promoted_ofs > 0) {
            std::snprintf(buf, len, "promoted %d", t->promoted);
            return;
        }
        break;
    default:
        break;
    }
    std::snprintf(buf, len, "absent");
}
