#include "cli/cli_args.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

enum option_id : int {
    OPT_JSON,
    OPT_VERBOSE,
    OPT_START_YEAR,
    OPT_BOSMAN_YEAR,
    OPT_WC06,
    OPT_PROMOTED,
    OPT_RELEGATED,
    OPT_CONFERENCE_ORIGINAL,
    OPT_CLICK_DELAY,
    OPT_EXITGAME,
    OPT_DRY_RUN,
    OPT_BACKUP,
    OPT_FROM,
    OPT_COUNT
};

// The commands an option goes with, a bit per cli_command.
constexpr int FOR_APPLY = 1 << CLI_APPLY;
constexpr int FOR_WRITES = FOR_APPLY | 1 << CLI_RESTORE;
constexpr int FOR_ALL = FOR_WRITES | 1 << CLI_SCAN;

struct option_entry {
    const char *name;
    option_id id;
    int takes_value;
    int commands;
};

const option_entry options[] = {
    {"--json", OPT_JSON, 0, FOR_ALL},
    {"--verbose", OPT_VERBOSE, 0, FOR_ALL},
    {"--start-year", OPT_START_YEAR, 1, FOR_APPLY},
    {"--bosman-year", OPT_BOSMAN_YEAR, 1, FOR_APPLY},
    {"--wc06", OPT_WC06, 0, FOR_APPLY},
    {"--promoted", OPT_PROMOTED, 1, FOR_APPLY},
    {"--relegated", OPT_RELEGATED, 1, FOR_APPLY},
    {"--conference-original", OPT_CONFERENCE_ORIGINAL, 0, FOR_APPLY},
    {"--click-delay", OPT_CLICK_DELAY, 1, FOR_APPLY},
    {"--exit-fix", OPT_EXITGAME, 1, FOR_APPLY},
    {"--dry-run", OPT_DRY_RUN, 0, FOR_WRITES},
    {"--backup", OPT_BACKUP, 0, FOR_APPLY},
    {"--from", OPT_FROM, 1, 1 << CLI_RESTORE},
};
static_assert(std::size(options) == OPT_COUNT, "an entry for every option_id");

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Anything that is not a whole decimal number within 32 bits (no sign but
// '-', no spaces) becomes a value that no range accepts, so the core names
// the option in its message.
int32_t number_or_invalid(const char *text)
{
    if (text == nullptr || !(is_digit(text[0]) || (text[0] == '-' && is_digit(text[1]))))
        return INT32_MIN;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

void set_value(request_value *v, int32_t value)
{
    v->set = 1;
    v->value = value;
}

void store_option(option_id id, const char *value, cli_args *out)
{
    patch_request &r = out->request;
    switch (id) {
    case OPT_JSON:
        out->json = 1;
        break;
    case OPT_VERBOSE:
        out->verbose = 1;
        break;
    case OPT_START_YEAR:
        set_value(&r.start_year, number_or_invalid(value));
        break;
    case OPT_BOSMAN_YEAR:
        set_value(&r.bosman_year, number_or_invalid(value));
        break;
    case OPT_WC06:
        r.wc06 = WC06_FOLLOW;
        break;
    case OPT_PROMOTED:
        set_value(&r.promoted, number_or_invalid(value));
        break;
    case OPT_RELEGATED:
        set_value(&r.relegated, number_or_invalid(value));
        break;
    case OPT_CONFERENCE_ORIGINAL:
        r.conference_original = 1;
        break;
    case OPT_CLICK_DELAY:
        set_value(&r.click_delay,
                  std::strcmp(value, "off") == 0 ? CLICK_DELAY_OFF : number_or_invalid(value));
        // "0" would read as off: only the word means off.
        if (std::strcmp(value, "off") != 0 && r.click_delay.value == CLICK_DELAY_OFF)
            r.click_delay.value = INT32_MIN;
        break;
    case OPT_EXITGAME:
        set_value(&r.exitgame, std::strcmp(value, "on") == 0    ? 1
                               : std::strcmp(value, "off") == 0 ? 0
                                                                 : INT32_MIN);
        break;
    case OPT_DRY_RUN:
        r.dry_run = 1;
        break;
    case OPT_BACKUP:
        r.backup = BACKUP_ON;
        break;
    case OPT_FROM:
        out->from = value;
        break;
    case OPT_COUNT:
        break;
    }
}

int fail(cli_args *out, const char *format, const char *arg)
{
    std::snprintf(out->error, sizeof out->error, format, arg);
    return -1;
}

// The option that `arg` names, as "--name" or "--name=value".
const option_entry *find_option(const char *arg)
{
    const std::size_t len = std::strcspn(arg, "=");
    for (const option_entry &o : options)
        if (std::strlen(o.name) == len && std::strncmp(o.name, arg, len) == 0)
            return &o;
    return nullptr;
}

} // namespace

int parse_cli_args(int argc, char **argv, cli_args *out)
{
    std::memset(out, 0, sizeof *out);
    patch_request_init(&out->request);
    if (argc < 2)
        return fail(out, "%sno command given", "");

    const char *command = argv[1];
    // "/?" as Windows programs take it; where it stands no file can.
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 || std::strcmp(command, "/?") == 0
        || std::strcmp(command, "help") == 0 || std::strcmp(command, "--version") == 0) {
        out->command = std::strcmp(command, "--version") == 0 ? CLI_VERSION : CLI_HELP;
        return argc == 2 ? 0 : fail(out, "unexpected argument '%s'", argv[2]);
    }
    if (std::strcmp(command, "scan") == 0)
        out->command = CLI_SCAN;
    else if (std::strcmp(command, "apply") == 0)
        out->command = CLI_APPLY;
    else if (std::strcmp(command, "restore") == 0)
        out->command = CLI_RESTORE;
    else
        return fail(out, "unknown command '%s'", command);

    bool seen[OPT_COUNT] = {};
    bool only_files = false;
    for (int i = 2; i < argc; ++i) {
        const char *arg = argv[i];
        if (!only_files && std::strcmp(arg, "--") == 0) {
            only_files = true;
            continue;
        }
        if (only_files || arg[0] != '-' || arg[1] == '\0') {
            if (out->file != nullptr)
                return fail(out, "unexpected argument '%s': give one FILE", arg);
            out->file = arg;
            continue;
        }
        const option_entry *o = find_option(arg);
        if (o == nullptr || (o->commands & 1 << out->command) == 0)
            return fail(out, "unknown option '%s'", arg);
        if (seen[o->id])
            return fail(out, "%s given more than once", o->name);
        seen[o->id] = true;
        const char *value = std::strchr(arg, '=');
        if (value != nullptr && !o->takes_value)
            return fail(out, "%s takes no value", o->name);
        if (value != nullptr)
            ++value;
        else if (o->takes_value && (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0))
            return fail(out, "%s needs a value", arg);
        else if (o->takes_value)
            value = argv[++i];
        store_option(o->id, value, out);
    }
    if (out->file == nullptr)
        return fail(out, "%s needs a FILE", command);
    return 0;
}
