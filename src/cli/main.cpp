// zandor-patcher-cli: scans a game executable, or writes chosen settings into
// it. Only translates between the command line and the core.

#include <cstdio>

#include "cli/cli_args.h"
#include "cli/scan_report.h"
#include "patch/patch_request.h"

namespace {

const char program[] = "zandor-patcher-cli";

const char usage_text[] =
    "usage: zandor-patcher-cli scan [--json] FILE\n"
    "       zandor-patcher-cli apply FILE [options]\n"
    "\n"
    "scan shows where each patch site is and what it holds; --json prints one\n"
    "JSON object instead of the table.\n"
    "\n"
    "apply writes only the sites named by its options:\n"
    "  --start-year Y         year a new game starts (2000-29999)\n"
    "  --wc06                 World Cup 06 fix to match the start year\n"
    "                         (installed from 2003 on); needs --start-year\n"
    "  --bosman-year Y        year the Bosman ruling applies from (2000-29999)\n"
    "  --promoted N           clubs promoted into the conference (1-7)\n"
    "  --relegated N          clubs relegated from the conference (0-7)\n"
    "  --conference-original  put the game's own conference code back\n"
    "  --click-delay N|off    click repeat delay (1-6), or remove it\n"
    "  --exit-fix on|off      closing the game window exits the game\n"
    "  --dry-run              say what would be written, write nothing\n"
    "  --backup               copy FILE to FILE.bak first (never over an old one)\n"
    "\n"
    "exit status: 0 done; 1 bad usage or value; 2 a requested site is absent or\n"
    "cannot take the change (nothing written); 3 the file could not be read or\n"
    "written, or did not read back as written.\n";

int exit_status(result_kind kind)
{
    switch (kind) {
    case RESULT_KIND_OK:
        return 0;
    case RESULT_KIND_USAGE:
        return 1;
    case RESULT_KIND_SITE:
        return 2;
    case RESULT_KIND_FILE:
        break;
    }
    return 3;
}

int report(const char *file, request_outcome o)
{
    const char *message = request_result_message(o.result);
    result_kind kind = request_result_kind(o.result);
    if (kind == RESULT_KIND_USAGE)
        std::fprintf(stderr, "%s: %s\n", program, message);
    else if (o.site >= 0)
        std::fprintf(stderr, "%s: %s: %s: %s\n", program, file, site_label(o.site), message);
    else
        std::fprintf(stderr, "%s: %s: %s\n", program, file, message);
    return exit_status(kind);
}

// Output that cannot be written is a failure, never a silent success.
int finish(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: cannot write to standard output\n", program);
        return status != 0 ? status : 3;
    }
    return status;
}

int run_scan(const cli_args &a)
{
    patch_target *t = nullptr;
    int scanned = scan_file(a.file, &t);
    if (scanned != REQUEST_OK)
        return report(a.file, request_outcome{scanned, -1});
    int printed = a.json ? print_scan_json(stdout, t) : print_scan_table(stdout, a.file, t);
    close_target(t);
    return finish(printed == 0 ? 0 : 3);
}

int run_apply(const cli_args &a)
{
    request_outcome o = patch_request_run(a.file, &a.request, stdout);
    (void)std::fflush(stdout);  // said in order before any error line; finish() checks
    int status = o.result == REQUEST_OK ? 0 : report(a.file, o);
    return finish(status);
}

} // namespace

int main(int argc, char **argv)
{
    // Standard output carries only the report; the scan's notes go aside.
    scan_diagnostics = stderr;

    cli_args a;
    if (parse_cli_args(argc, argv, &a) != 0) {
        std::fprintf(stderr, "%s: %s (see %s --help)\n", program, a.error, program);
        return 1;
    }
    switch (a.command) {
    case CLI_HELP:
        std::fputs(usage_text, stdout);
        return finish(0);
    case CLI_SCAN:
        return run_scan(a);
    case CLI_APPLY:
        return run_apply(a);
    case CLI_NONE:
        break;
    }
    return 1;
}
