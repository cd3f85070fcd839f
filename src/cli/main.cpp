// zandor-patcher-cli: scans a game executable, or writes chosen settings into
// it. Only translates between the command line and the core.

#include <cstdio>
#include <cstdlib>
#include <iterator>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "platform/dll_search.h"
#else
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

#include "cli/apply_json.h"
#include "cli/cli_args.h"
#include "cli/scan_report.h"
#include "patch/site_words.h"
#include "patch/file_io.h"
#include "patch/backup.h"
#include "patch/fixed_text.h"
#include "patch/patch_run.h"
#include "patch/restore.h"
#include "patch/rules.h"

namespace {

const char program[] = "zandor-patcher-cli";

constexpr auto help_text = with_numbers(
    "usage: zandor-patcher-cli scan [--json] [--verbose] FILE\n"
    "       zandor-patcher-cli apply FILE [options]\n"
    "       zandor-patcher-cli restore FILE [--from BACKUP] [--dry-run] [--json]\n"
    "       zandor-patcher-cli --help | -h | /? | --version\n"
    "\n"
    "scan shows where each patch site is and what it holds, or why it is absent.\n"
    "\n"
    "apply writes only the sites named by its options:\n"
    "  --start-year Y         year a new game starts (%d-%d)\n"
    "  --wc06                 World Cup 06 fix to match the start year\n"
    "                         (installed from %d on); needs --start-year\n"
    "  --bosman-year Y        year the Bosman ruling applies from (%d-%d)\n"
    "  --promoted N           clubs promoted into the conference (%d-%d)\n"
    "  --relegated N          clubs relegated from the conference (%d-%d)\n"
    "  --conference-original  put the game's own conference code back (it acts\n"
    "                         like promoted %d, relegated %d, in other bytes)\n"
    "  --click-delay N|off    click repeat delay (%d-%d), or remove it\n"
    "  --exit-fix on|off      closing the game window exits the game\n"
    "  --dry-run              say what would be written, write nothing\n"
    "  --backup               copy FILE to FILE.bak first; a FILE.bak that is a\n"
    "                         backup of FILE is kept, anything else refused\n"
    "It prints each site it writes as \"now -> after\", with \"(no change)\" when\n"
    "not one of its bytes changes.\n"
    "\n"
    "restore puts a backup of FILE back (BACKUP: FILE.bak when not given): only\n"
    "one that equals FILE outside the patched places, and holds every site\n"
    "FILE has; it writes as apply does, then checks that FILE equals BACKUP.\n"
    "\n"
    "every command:\n"
    "  --json                 print one JSON object instead of the text (its\n"
    "                         schema: cli-output.schema.json in the release\n"
    "                         zip, docs/cli-output.schema.json in the sources)\n"
    "  --verbose              also print the scan's notes on standard error\n"
    "An option's value may also follow an '=': --start-year=2010.\n"
    "\n"
    "exit status: 0 done; 1 bad usage or value; 2 a requested site is absent or\n"
    "cannot take the change (nothing written); 3 the file could not be read or\n"
    "written, or did not read back as written; 4 standard output could not be\n"
    "written (before the write: nothing written; after it, the message says so).\n",
    YEAR_MIN, YEAR_MAX, WC06_FIRST_YEAR, YEAR_MIN, YEAR_MAX, PROMOTED_MIN, PROMOTED_MAX, RELEGATED_MIN,
    RELEGATED_MAX, GAME_PROMOTED, GAME_RELEGATED, CLICK_DELAY_MIN, CLICK_DELAY_MAX);

// A wrong request is told in the words of the options that make it: the
// option in place of what the core calls it, and the options it needs or
// conflicts with.
struct flag_words {
    patch_result result;
    const char *flag;
    const char *other;
};

const flag_words request_flags[] = {
    {RESULT_NOTHING_REQUESTED, nullptr,
     "--start-year, --bosman-year, --wc06, --promoted, --relegated, --conference-original, --click-delay, "
     "--exit-fix"},
    {RESULT_BAD_START_YEAR, "--start-year", nullptr},
    {RESULT_BAD_BOSMAN_YEAR, "--bosman-year", nullptr},
    {RESULT_WC06_NEEDS_START_YEAR, "--wc06", "--start-year"},
    {RESULT_BAD_PROMOTED, "--promoted", nullptr},
    {RESULT_BAD_RELEGATED, "--relegated", nullptr},
    {RESULT_CONFERENCE_CONFLICT, "--conference-original", "--promoted or --relegated"},
    {RESULT_BAD_CLICK_DELAY, "--click-delay", nullptr},
    {RESULT_BAD_EXITGAME, "--exit-fix", nullptr},
};

struct message_text {
    char text[256];
};

message_text message(patch_result r)
{
    message_text m{};
    const flag_words *f = nullptr;
    for (const flag_words &w : request_flags)
        if (w.result == r)
            f = &w;
    usage_text(r, f != nullptr ? f->flag : nullptr, f != nullptr ? f->other : nullptr, m.text, sizeof m.text);
    return m;
}

// 0 done; 1 bad usage or value; 2 a site cannot take the change; 3 the file;
// 4 standard output could not be written.
const int exit_status[] = {0, 1, 2, 3, 4};
static_assert(std::size(exit_status) == RESULT_KIND_COUNT, "a status for every result_kind");
constexpr int EXIT_REPORT_FAILED = 4;

// The sites a failed write left changed, and what each holds now, as the
// core read it back.
void say_unrestored(const char *file, const patch_outcome &o)
{
    std::fprintf(stderr, "%s: %s: %s", program, file, unrestored_text(NOTE_NOT_PUT_BACK));
    const char *separator = " ";
    for (int site = 0; site < SITE_COUNT; ++site)
        if (o.unrestored & (1 << site)) {
            const int bit = 1 << site;
            std::fprintf(stderr, "%s%s (%s)", separator, site_label(site),
                         unrestored_text((o.whole_new & bit)  ? NOTE_HOLDS_NEW
                                         : (o.unread & bit) ? NOTE_UNREAD
                                                            : NOTE_HOLDS_NEITHER));
            separator = ", ";
        }
    std::fputc('\n', stderr);
    if (o.pair_may_differ)
        std::fprintf(stderr, "%s: %s: %s\n", program, file, unrestored_text(NOTE_PAIR_MAY_DIFFER));
}

// What went wrong, as standard error says it after the file's name.
message_text failure(const patch_outcome &o)
{
    message_text m = message(o.result);
    if (o.result == RESULT_SITE_ABSENT)
        std::snprintf(m.text, sizeof m.text, "%s: absent (%s); nothing was written", site_label(o.site),
                      absence_words(o.why));
    else if (o.site >= 0)
        std::snprintf(m.text, sizeof m.text, "%s: %s", site_label(o.site), result_text(o.result));
    return m;
}

// --json's message: the failure and, when there is one, its likely cause
// with what to do, as standard error tells them.
struct json_message {
    char text[sizeof(message_text) + 256];
};

json_message json_failure(const patch_outcome &o)
{
    json_message m{};
    const char *why = cause_text(outcome_cause(o));
    std::snprintf(m.text, sizeof m.text, "%s%s%s", failure(o).text, why != nullptr ? ". " : "",
                  why != nullptr ? why : "");
    return m;
}

int report(const char *file, patch_outcome o)
{
    result_kind kind = result_kind_of(o.result);
    if (kind == RESULT_KIND_USAGE)
        std::fprintf(stderr, "%s: %s\n", program, message(o.result).text);
    else
        std::fprintf(stderr, "%s: %s: %s\n", program, file, failure(o).text);
    // Missing, access denied, in use, not a regular file...: why, and what to do.
    if (const char *why = cause_text(outcome_cause(o)))
        std::fprintf(stderr, "%s: %s: %s\n", program, file, why);
    if (o.unrestored != 0)
        say_unrestored(file, o);
    return exit_status[kind];
}

bool stdout_ok()
{
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

// Output that cannot be written is a failure, never a silent success; nor is
// a written file ever reported as unwritten.
int finish(int status, const char *done)
{
    if (stdout_ok())
        return status;
    std::fprintf(stderr, "%s: cannot write to standard output%s\n", program, status == 0 ? done : "");
    return status != 0 ? status : EXIT_REPORT_FAILED;
}

// Standard output carries only the report. The scan's notes repeat what the
// report says, and a script may take anything on standard error for a
// failure: they go there only when asked for.
void say_notes(void *, const patch_target *t)
{
    print_scan_notes(stderr, t);
}

int run_scan(const cli_args &a)
{
    patch_target *t = nullptr;
    file_cause cause = CAUSE_NONE;
    const patch_events events{nullptr, a.verbose ? say_notes : nullptr, nullptr, nullptr};
    patch_result scanned = scan_file(a.file, &t, &cause, &events);
    if (scanned != RESULT_OK) {
        // As apply --json says a file it cannot read.
        const patch_outcome o = outcome_of(scanned, -1, cause);
        const int status = report(a.file, o);
        if (a.json) {
            apply_json none;
            apply_json_init(&none, a.file, 0);
            apply_json_end(&none, o, json_failure(o).text, status, stdout);
        }
        return finish(status, "");
    }
    const backup_beside bak = backup_beside_of(t);
    (void)(a.json ? print_scan_json(stdout, a.file, t, bak) : print_scan_table(stdout, a.file, t));  // finish() checks
    if (!a.json && bak != BACKUP_NONE)
        std::printf("Backup: %s.bak %s\n", a.file,
                    bak == BACKUP_VERIFIED ? "is a backup of this file: restore puts it back"
                                           : "is not a backup of this file");
    // What a read error hid cannot be told.
    int unread = target_read_error_site(t);
    close_target(t);
    int status = unread >= 0 ? report(a.file, outcome_of(RESULT_READ_FAILED, unread)) : 0;
    return finish(status, "");
}

struct apply_run {
    const cli_args *args;
    apply_json json;
};

// Nothing is written unless the player's copy of the plan got out.
bool say_plan(void *ctx, const patch_target *scanned, const patch_target *plan)
{
    auto *run = static_cast<apply_run *>(ctx);
    if (run->args->json) {
        apply_json_plan(&run->json, scanned, plan, stdout);
        return stdout_ok();
    }
    std::printf(run->args->request.dry_run ? "Would write:\n" : "Writing:\n");
    print_plan(scanned, plan, stdout);
    return stdout_ok();
}

void say_backup(void *ctx, int made)
{
    auto *run = static_cast<apply_run *>(ctx);
    run->json.backup_made = made;
    if (!run->args->json)
        std::printf(made ? "Backup written to %s.bak\n" : "Backup kept: %s.bak is a backup of this file\n",
                    run->args->file);
}

// apply and restore: one path to the file, told the same way.
int run_write(cli_args &a)
{
    apply_run run{&a, {}};
    apply_json_init(&run.json, a.file, a.request.dry_run);
    const patch_events events{&run, a.verbose ? say_notes : nullptr, say_plan, say_backup};
    const bool restore = a.command == CLI_RESTORE;
    patch_outcome o = restore ? restore_file(a.file, a.from, a.request.dry_run, &events)
                              : patch_file(a.file, &a.request, &events);
    if (!a.json && o.result == RESULT_OK && a.request.dry_run)
        std::printf("Dry run: nothing was written%s.\n", a.request.backup ? " and no backup made" : "");
    else if (!a.json && o.result == RESULT_OK)
        std::printf(restore ? "Checked: the file now equals the backup.\n"
                            : "Checked: every written site reads back as requested.\n");
    (void)std::fflush(stdout);  // said in order before any error line; finish() checks
    int status = o.result == RESULT_OK ? 0 : report(a.file, o);
    if (a.json && o.result != RESULT_REPORT_FAILED)
        apply_json_end(&run.json, o, json_failure(o).text, status, stdout);
    return finish(status, a.request.dry_run ? "" : "; the file was written and reads back as requested");
}

#ifdef _WIN32
UINT console_cp_before = 0;

void restore_console_cp()
{
    SetConsoleOutputCP(console_cp_before);
}

// Paths come and go in UTF-8 (the manifest's active code page); a console
// shows them right only when told so. The console outlives us: put its code
// page back at exit.
void console_speaks_utf8()
{
    if (!_isatty(_fileno(stdout)) && !_isatty(_fileno(stderr)))
        return;
    console_cp_before = GetConsoleOutputCP();
    if (console_cp_before != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restore_console_cp);
}
#else
void console_speaks_utf8()
{
}
#endif

// With descriptor 1 closed, the first file the run opens would take it,
// and the plan and the report would go there: the run stops before it
// starts. (On Windows a missing standard output fails the first write of
// the plan, before the file is written.)
bool stdout_open()
{
#ifdef _WIN32
    return true;
#else
    return fcntl(STDOUT_FILENO, F_GETFD) != -1;
#endif
}

// A reader that went away (`| head -1`) must not end the tool mid-report: the
// failed write is seen and told, and says whether the file was written. Nor
// may the file-size limit end it mid-copy: the backup's copy would stay.
void survive_closed_pipes()
{
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

} // namespace

int main(int argc, char **argv)
{
#ifdef _WIN32
    dll_search_restrict();  // as the patcher does, before anything loads a DLL
#endif
    console_speaks_utf8();
    survive_closed_pipes();
    cli_args a;
    if (parse_cli_args(argc, argv, &a) != 0) {
        std::fprintf(stderr, "%s: %s (see %s --help)\n", program, a.error, program);
        return 1;
    }
    if (!stdout_open()) {
        std::fprintf(stderr, "%s: cannot write to standard output; nothing was written\n", program);
        return EXIT_REPORT_FAILED;
    }
    switch (a.command) {
    case CLI_HELP:
        std::fputs(help_text.text, stdout);
        return finish(0, "");
    case CLI_VERSION:
        std::printf("%s %s\n", program, ZANDOR_VERSION);
        return finish(0, "");
    case CLI_SCAN:
        return run_scan(a);
    case CLI_APPLY:
    case CLI_RESTORE:
        return run_write(a);
    case CLI_NONE:
        break;
    }
    return 1;
}
