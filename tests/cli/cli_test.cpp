// Black-box runs of zandor-patcher-cli on sample images: what it prints, its
// exit status, and every byte of the file afterwards against the sample that
// the sample maker makes of the sites the run should leave.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <source_location>
#include <sstream>
#include <tuple>

#include "file_bytes.h"
#include "patch/patch_run.h"
#include "run_program.h"
#include "sample_sites.h"
#include "scratch_path.h"

namespace {

using where = std::source_location;

// Writes the sample with these sites to `path`; the recipe as laid out.
sample_recipe make_image(const std::string &path, const std::vector<site_is> &sites, int64_t size = 262144)
{
    const sample_recipe r = sample_file(path.c_str(), sites, size);
    EXPECT_GT(r.size, 0);
    return r;
}

// One run on a fresh image of its own. In `args`, GAME is the image, MISSING
// a file that is not there, BAK the image's FILE.bak, FOLDER a folder, EMPTY an empty file, FIFO a
// named pipe (opening it would block) and LINK a link to MISSING.
struct cli_case {
    where row = {}; // set by row()
    std::vector<site_is> image = {};
    const std::vector<site_is> *backup = nullptr; // the sites of a FILE.bak there before, if any
    int64_t backup_size = 262144;
    const char *args = "";
    int exit = 0;
    std::vector<std::string> out_has = {}, err_has = {}, not_has = {}; // on standard output, error, neither
    std::vector<site_is> after = {}; // the sites that the run changes, as they should be then
    mode_t mode = 0644; // anything else: run as nobody when root
};

// Our conference pair holding these counts, and other sites.
std::vector<site_is> conf(int promoted, int relegated, std::vector<site_is> more = {})
{
    more.insert(more.end(),
                {{SITE_CONF_COUNTS, SAMPLE_PATCHED, promoted, relegated}, {SITE_CONF_PROMOTED, SAMPLE_PATCHED, promoted}});
    return more;
}

// A case that knows the line it is written on.
cli_case row(cli_case c, where w = where::current())
{
    c.row = w;
    return c;
}

const std::vector<site_is> ours = {{SITE_START_YEAR, SAMPLE_GAME, 0x0a0d}, {SITE_WC06_FIX, SAMPLE_PATCHED},
                                   {SITE_CLICK_DELAY, SAMPLE_PATCHED, 6}, {SITE_EXITGAME, SAMPLE_PATCHED},
                                   {SITE_CONF_COUNTS, SAMPLE_PATCHED, 2, 6}, {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 2}};
const std::vector<site_is> odd = {{SITE_START_YEAR, SAMPLE_ABSENT}, {SITE_CLICK_DELAY, SAMPLE_UNRECOGNISED},
                                  {SITE_EXITGAME, SAMPLE_UNRECOGNISED}, {SITE_CONF_COUNTS, SAMPLE_ABSENT}};
const std::vector<site_is> odd2 = {{SITE_WC06_FIX, SAMPLE_UNRECOGNISED}, {SITE_BOSMAN_YEAR, SAMPLE_DUPLICATED},
                                   {SITE_CLICK_DELAY, SAMPLE_PATCHED, 7}, {SITE_EXITGAME, SAMPLE_TRUNCATED},
                                   {SITE_CONF_PROMOTED, SAMPLE_DUPLICATED}};
// Three sites across the edges of the 64 KiB windows that the search reads.
const std::vector<site_is> placed = {
    {.site = SITE_START_YEAR, .state = SAMPLE_GAME, .at = 196602}, {.site = SITE_WC06_FIX, .state = SAMPLE_GAME, .at = 1000},
    {.site = SITE_BOSMAN_YEAR, .state = SAMPLE_GAME, .at = 5000}, {.site = SITE_CLICK_DELAY, .state = SAMPLE_GAME, .at = 65526},
    {.site = SITE_EXITGAME, .state = SAMPLE_GAME, .at = 9000}, {.site = SITE_CONF_COUNTS, .state = SAMPLE_GAME, .at = 20000},
    {.site = SITE_CONF_PROMOTED, .state = SAMPLE_GAME, .at = 131007}};
const std::vector<site_is> damaged = {{.site = SITE_CLICK_DELAY, .state = SAMPLE_UNRECOGNISED, .first_byte = 0x85},
                                      {.site = SITE_EXITGAME, .state = SAMPLE_UNRECOGNISED, .first_byte = 0xe9}};
// Our counts next to the game's promoted block: a change cut off after its first write.
const std::vector<site_is> half_written = {{SITE_CONF_COUNTS, SAMPLE_PATCHED, 6, 2}};
const std::vector<site_is> our_exit = {{SITE_EXITGAME, SAMPLE_PATCHED}}, as_it_came = {},
                           our_delay_5 = {{SITE_CLICK_DELAY, SAMPLE_PATCHED, 5}},
                           delay_7 = {{SITE_CLICK_DELAY, SAMPLE_PATCHED, 7}}, bosman_1998 = {{SITE_BOSMAN_YEAR, SAMPLE_GAME, 1998}};
const char *const no_conf = "\"conf_counts_ofs\": -1, \"conf_promoted_ofs\": -1, \"promoted\": 1,";

const cli_case cases[] = {
    // Scan: the record and the table, in each state of each site.
    row({.image = placed, .args = "scan --json GAME",
         .out_has = { "{\"start_year_ofs\": 196607, \"start_year\": 2001, \"wc06_ofs\": 1009, \"wc06_installed\": 0, "
         "\"bosman_year_ofs\": 5021, \"bosman_year\": 2002, \"click_delay_ofs\": 65544, \"click_delay\": -1, "
         "\"exitgame_ofs\": 9025, \"exitgame_installed\": 0, \"conf_counts_ofs\": 20063, \"conf_promoted_ofs\": "
         "131072, \"promoted\": 1, \"relegated\": 3, \"touch_conference\": 0, \"conf_installed\": 0, \"path\": \"/",
         "\"size\": 262144, \"version\": \"1.0.0\", \"absent\": {}, \"damaged\": [], \"backup\": null}\n"}}),
    row({.image = placed, .args = "scan GAME", .out_has = {"(262144 bytes)\nsite            offset                   state\n"
         "start_year      0x0002ffff (196607)      year 2001\nwc06_fix  "}}),
    row({.image = ours, .args = "scan GAME", .out_has = {"  delay 6\n", "  year 2573\n", "  promoted 2, relegated 6\n",
         "  promoted 2\n", "  installed\n"}}),
    row({.image = ours, .args = "scan --json GAME", .out_has = {"wc06_installed\": 1", "delay\": 6,",
         "exitgame_installed\": 1"}, .not_has = {"ofs\": -1"}}),
    row({.image = odd, .args = "scan GAME", .out_has = {"absent                   code not recognised\n",
         "absent                   not found\n"}}),
    row({.image = odd, .args = "scan --json --verbose GAME",
         .out_has = {"\"absent\": {\"start_year\": \"not_found\", \"click_delay\": \"unknown_code\"",
         "\"click_delay_ofs\": -1, \"click_delay\": -2"}, .err_has = {"is CC\n"}, .not_has = {"promoted_ofs\": -1"}}),
    row({.image = odd2, .args = "scan GAME", .out_has = {"  installed, delay not recognised\n"}}),
    row({.image = {{SITE_START_YEAR, SAMPLE_DUPLICATED}}, .args = "scan GAME",
         .out_has = {"start_year      absent                   found more than once\n"}}),
    row({.image = odd2, .args = "scan --json --verbose GAME", .out_has = {"\"wc06_ofs\": -1",
         "\"bosman_year_ofs\": -1, \"bosman_year\": 0",
         "\"absent\": {\"wc06_fix\": \"unknown_code\", \"bosman_year\": \"found_twice\", \"exitgame\": "
         "\"cut_off\", \"conf_counts\": \"pair_mismatch\", \"conf_promoted\": \"found_twice\"}, "
         "\"damaged\": [], \"backup\": null}"}, .err_has = {"ofs2 = -1\n"}}),
    row({.image = conf(7, 200, {{SITE_START_YEAR, SAMPLE_GAME, 0x081a}, {SITE_BOSMAN_YEAR, SAMPLE_TRUNCATED},
         {SITE_CLICK_DELAY, SAMPLE_PATCHED, 1}}), .args = "scan --json GAME", .out_has = {"\"start_year\": 2074",
         "\"bosman_year_ofs\": -1, \"bosman_year\": 0", "\"click_delay\": 1,", "\"promoted\": 7, \"relegated\": -56"},
         .not_has = {"counts_ofs\": -1", "promoted_ofs\": -1"}}),
    row({.image = conf(0, 3, {{SITE_START_YEAR, SAMPLE_DUPLICATED}, {SITE_CLICK_DELAY, SAMPLE_PATCHED, 0},
         {.site = SITE_EXITGAME, .state = SAMPLE_DUPLICATED, .at = 70000, .at2 = 200000}}),
         .args = "scan --json GAME --verbose", .out_has = {"\"start_year_ofs\": -1, \"start_year\": 0",
         "\"click_delay\": -2"}, .err_has = {"exitgame: ofs = 70000, ofs2 = 200000\n"},
         .not_has = {"\"click_delay_ofs\": -1"}}),
    row({.image = conf(8, 3, {{SITE_EXITGAME, SAMPLE_ABSENT}}), .args = "scan --verbose --json GAME",
         .out_has = {"\"conf_promoted_ofs\": -1, \"promoted\": 1, \"relegated\": 3"}, .err_has = {"ofs = -1, ofs2 = -1\n"}}),
    row({.image = {{SITE_CONF_COUNTS, SAMPLE_PATCHED, 4, 3}, {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 5}},
         .args = "scan --json GAME", .out_has = {"ofs\": -1, \"promoted\": 4,"}}),
    // The counts block has the count, and the next apply finishes it.
    row({.image = half_written, .args = "scan --json GAME", .out_has = {"\"promoted\": 6, \"relegated\": 2"},
         .not_has = {"ofs\": -1"}}),
    row({.image = half_written, .args = "scan GAME", .out_has = {"promoted 6, relegated 2\n",
         "promoted 6, half-written: the next apply finishes it\n"}}),
    row({.image = half_written, .args = "apply GAME --relegated 7", .not_has = {"-> promoted 6, half-written"},
         .after = conf(6, 7)}),
    // Whether a site changes is the bytes' business: here the counts stay, the promoted block does not.
    row({.image = half_written, .args = "apply GAME --relegated 2 --dry-run",
         .out_has = {"relegated 2 -> promoted 6, relegated 2 (no change)\n", "finishes it -> promoted 6\n"}}),
    row({.image = {{SITE_CONF_PROMOTED, SAMPLE_PATCHED, 1}}, .args = "scan --json GAME", .out_has = {no_conf}}),
    // Our byte 0 before the game's other bytes, as a write cut off inside the block leaves it: told, and the
    // same change repairs it, which is a change.
    row({.image = damaged, .args = "scan --json GAME",
         .out_has = {"\"damaged\": [\"click_delay\", \"exitgame\"], \"backup\": null}"}}),
    row({.image = damaged, .args = "apply GAME --exit-fix on --click-delay 5", .out_has = {"again -> installed\n",
         "recognised, damaged"}, .not_has = {"(no change)", "again\n"}, .after = {{SITE_CLICK_DELAY, SAMPLE_PATCHED, 5}, {SITE_EXITGAME,
         SAMPLE_PATCHED}}}),
    row({.image = {{SITE_CONF_PROMOTED, SAMPLE_UNRECOGNISED}}, .args = "scan --json GAME", .out_has = {no_conf}}),
    row({.image = {{SITE_CONF_COUNTS, SAMPLE_UNRECOGNISED}}, .args = "scan --json GAME",
         .out_has = {"\"conf_counts_ofs\": -1"}, .not_has = {"promoted_ofs\": -1"}}),

    // Apply: each option writes its site, and only what it asks for.
    row({.args = "apply GAME --start-year 2000 --bosman-year 29999", .out_has = {"Writing:\n", "Checked"},
         .after = {{SITE_START_YEAR, SAMPLE_GAME, 2000}, {SITE_BOSMAN_YEAR, SAMPLE_GAME, 29999}}}),
    row({.args = "apply GAME --start-year 29999 --wc06 --bosman-year 2000", .after = {{SITE_START_YEAR, SAMPLE_GAME, 29999},
         {SITE_WC06_FIX, SAMPLE_PATCHED}, {SITE_BOSMAN_YEAR, SAMPLE_GAME, 2000}}}),
    row({.args = "apply GAME --start-year 2003 --wc06 --click-delay 1", .out_has = {"not installed -> delay 1\n"},
         .after = {{SITE_START_YEAR, SAMPLE_GAME, 2003}, {SITE_WC06_FIX, SAMPLE_PATCHED}, {SITE_CLICK_DELAY, SAMPLE_PATCHED,
         1}}}),
    row({.args = "apply GAME --start-year 2002 --wc06", .out_has = {"not installed (no change)"}, .after = {{SITE_START_YEAR,
         SAMPLE_GAME, 2002}}}),
    row({.image = ours, .args = "apply GAME --promoted 2 --relegated 6 --dry-run",
         .out_has = {"relegated 6 -> promoted 2, relegated 6 (no change)\n", "promoted 2 -> promoted 2 (no change)\n"}}),
    row({.args = "apply GAME --promoted 7 --click-delay 6", .after = conf(7, 3, {{SITE_CLICK_DELAY, SAMPLE_PATCHED, 6}})}),
    row({.args = "apply GAME --relegated 0 --exit-fix on", .after = conf(1, 0, {{SITE_EXITGAME, SAMPLE_PATCHED}})}),
    row({.image = conf(1, 0, {{SITE_EXITGAME, SAMPLE_PATCHED}}),
         .args = "apply GAME --promoted 1 --relegated 7 --exit-fix off", .after = conf(1, 7,
         {{SITE_EXITGAME, SAMPLE_GAME}})}),
    row({.image = ours, .args = "apply GAME --click-delay off --exit-fix off --conference-original",
         .after = {{SITE_CLICK_DELAY, SAMPLE_GAME}, {SITE_EXITGAME, SAMPLE_GAME}, {SITE_CONF_COUNTS, SAMPLE_GAME},
         {SITE_CONF_PROMOTED, SAMPLE_GAME}}}),
    row({.image = ours, .args = "apply GAME --relegated 7 --start-year 2004 --wc06", .after = conf(2, 7,
         {{SITE_START_YEAR, SAMPLE_GAME, 2004}, {SITE_WC06_FIX, SAMPLE_PATCHED}})}),
    row({.image = odd, .args = "apply GAME --bosman-year 2010", .after = {{SITE_BOSMAN_YEAR, SAMPLE_GAME, 2010}}}),
    row({.image = placed, .args = "apply GAME --click-delay 3 --promoted 5 --start-year 2222", .after = conf(5, 3,
         {{SITE_START_YEAR, SAMPLE_GAME, 2222}, {SITE_CLICK_DELAY, SAMPLE_PATCHED, 3}})}),
    row({.args = "apply GAME --dry-run --backup --start-year 2010", .out_has = {"Would write:\n", "year 2001 -> year 2010",
         "Dry run"}}),
    // The game's conference code is not ours holding 1 and 3.
    row({.args = "apply GAME --promoted=1 --relegated=3", .out_has = {"game's code -> promoted 1, relegated 3\n"},
         .not_has = {"(no change)"}, .after = conf(1, 3)}),
    row({.image = conf(1, 3), .args = "apply GAME --conference-original --dry-run",
         .out_has = {"promoted 1, relegated 3 -> game's code\n"}}),
    row({.image = ours, .args = "apply GAME --json --conference-original",
         .out_has = {"\"old\": \"promoted 2, relegated 6\", \"new\": \"game's code\", \"change\": 1}",
         "\"written\": {\"conf_counts\": 1, \"conf_promoted\": 1}, \"backup_made\": 0, \"result\": \"done\""},
         .not_has = {"Checked"}, .after = {{SITE_CONF_COUNTS, SAMPLE_GAME}, {SITE_CONF_PROMOTED, SAMPLE_GAME}}}),
    row({.args = "apply GAME --json --dry-run --exit-fix on",
         .out_has = {"\"written\": {\"exitgame\": 0}, \"backup_made\": 0"}}),
    row({.args = "apply --json=1 GAME", .exit = 1, .err_has = {"--json takes no value"}}),
    row({.args = "--version", .out_has = {"zandor-patcher-cli 1.0.0\n"}}),
    row({.args = "--help", .out_has = {"usage:"}}),
    row({.args = "/?", .out_has = {"usage:"}}),
    row({.args = "-h", .out_has = {"usage:", "--version", "--start-year=2010", "4 standard output"}}),
    row({.args = "apply GAME --backup --exit-fix on", .out_has = {"Backup written"}, .after = {{SITE_EXITGAME,
         SAMPLE_PATCHED}}}),
    // A backup of the game as it came is kept, and the run goes on.
    row({.image = our_exit, .backup = &as_it_came, .args = "apply GAME --backup --exit-fix off --json",
         .out_has = {"\"backup_made\": 0, \"result\": \"done\""}, .after = {{SITE_EXITGAME, SAMPLE_GAME}}}),
    row({.image = {{SITE_CLICK_DELAY, SAMPLE_PATCHED, 2}, {SITE_EXITGAME, SAMPLE_PATCHED}}, .backup = &our_delay_5,
         .args = "apply GAME --backup --exit-fix off", .out_has = {"Backup kept"}, .after = {{SITE_EXITGAME, SAMPLE_GAME}}}),

    // restore puts a backup of the file back exactly, and only such a backup: one that cannot be read is
    // exit 3, one that does not fit exit 2, and either way, or in a dry run, the file and the backup stay.
    row({.image = ours, .backup = &as_it_came, .args = "restore GAME --from BAK", .out_has = {"now equals the backup"}}),
    row({.image = ours, .backup = &as_it_came, .args = "restore GAME --dry-run"}),
    row({.image = ours, .backup = &as_it_came, .args = "restore GAME --json", .out_has = {"\"result\": \"done\""}}),
    row({.image = ours, .args = "restore GAME --from GAME"}),
    // scan names a backup beside the file, and whether it is one.
    row({.image = ours, .backup = &as_it_came, .args = "scan GAME", .out_has = {".bak is a backup of this file"}}),
    row({.image = ours, .backup = &as_it_came, .args = "scan --json GAME", .out_has = {"\"backup\": \"verified\"}"}}),
    row({.image = ours, .backup = &placed, .args = "scan GAME", .out_has = {".bak is not a backup"}}),
    row({.image = ours, .backup = &placed, .args = "restore GAME", .exit = 2, .err_has = {"start year: the backup does not"}}),
    row({.image = ours, .backup = &placed, .args = "restore GAME --dry-run", .exit = 2,
         .err_has = {"backup does not fit this file"}}),
    row({.image = ours, .backup = &as_it_came, .backup_size = 262143, .args = "restore GAME", .exit = 2,
         .err_has = {"backup does not fit this file"}}),
    row({.image = ours, .args = "restore GAME --from EMPTY", .exit = 2, .err_has = {"backup does not fit this file"}}),
    // Sites that no change can put back as they are.
    row({.image = ours, .backup = &delay_7, .args = "restore GAME", .exit = 2, .err_has = {"click delay: the backup does"}}),
    row({.image = ours, .backup = &half_written, .args = "restore GAME", .exit = 2,
         .err_has = {"conference promoted count: the backup does not fit"}}),
    row({.image = ours, .backup = &bosman_1998, .args = "restore GAME", .exit = 2, .err_has = {"Bosman year: the backup"}}),
    row({.args = "restore GAME --from MISSING --dry-run", .exit = 3, .err_has = {"the backup cannot be read", "not there"}}),
    row({.args = "restore GAME --from FOLDER", .exit = 3, .err_has = {"the backup cannot be read", "not a regular file"}}),
    row({.args = "restore GAME --from LINK", .exit = 3, .err_has = {"the backup cannot be read", "not there"}}),

    // A requested site that is absent or cannot take the change: exit 2.
    row({.image = ours, .args = "apply GAME --start-year 2001 --wc06", .exit = 2, .err_has = {"World Cup 06 fix"}}),
    row({.image = odd, .args = "apply GAME --json --start-year 2010 --bosman-year 2010", .exit = 2,
         .out_has = {"\"message\": \"start year: absent (not found); nothing was written\", \"site\": \"start_year\""}}),
    row({.image = odd, .args = "apply GAME --click-delay off --backup", .exit = 2, .err_has = {"click"}}),
    row({.image = odd, .args = "apply GAME --conference-original", .exit = 2, .err_has = {"conference counts"}}),
    row({.image = odd2, .args = "apply GAME --start-year 2010 --wc06", .exit = 2, .err_has = {"Cup"}}),
    row({.image = odd2, .args = "apply GAME --bosman-year 2010", .exit = 2, .err_has = {"Bosman"}}),

    // Bad usage or values: exit 1.
    row({.args = "", .exit = 1, .err_has = {"no command"}}),
    row({.args = "frob GAME", .exit = 1, .err_has = {"unknown command 'frob'"}}),
    row({.args = "scan", .exit = 1, .err_has = {"scan needs a FILE"}}),
    row({.args = "apply GAME", .exit = 1, .err_has = {"no change requested"}}),
    row({.args = "apply GAME --dry-run --turbo", .exit = 1, .err_has = {"'--turbo'"}}),
    row({.args = "scan GAME --exit-fix on", .exit = 1, .err_has = {"'--exit-fix'"}}),
    row({.args = "apply GAME GAME --exit-fix on", .exit = 1, .err_has = {"one FILE"}}),
    row({.args = "apply GAME --start-year", .exit = 1, .err_has = {"--start-year needs a"}}),
    row({.args = "apply GAME --wc06 --wc06", .exit = 1, .err_has = {"more than once"}}),
    row({.args = "apply GAME --start-year 20x5", .exit = 1, .err_has = {"year must"}}),
    row({.args = "apply GAME --start-year 1999", .exit = 1, .err_has = {"year must"}}),
    row({.args = "apply GAME --start-year 30000", .exit = 1, .err_has = {"year must"}}),
    row({.args = "apply GAME --bosman-year 30000", .exit = 1, .err_has = {"bosman-year must"}}),
    row({.args = "apply GAME --wc06", .exit = 1, .err_has = {"needs --start"}}),
    row({.args = "apply GAME --promoted 0", .exit = 1, .err_has = {"--promoted must"}}),
    row({.args = "apply GAME --promoted 8", .exit = 1, .err_has = {"--promoted must"}}),
    row({.args = "apply GAME --relegated -1", .exit = 1, .err_has = {"relegated must"}}),
    row({.args = "apply GAME --relegated 8", .exit = 1, .err_has = {"relegated must"}}),
    row({.args = "apply GAME --click-delay 7", .exit = 1, .err_has = {"delay must"}}),
    row({.args = "apply GAME --click-delay 0", .exit = 1, .err_has = {"delay must"}}),
    row({.args = "apply GAME --promoted 2 --conference-original", .exit = 1, .err_has = {"cannot be combined"}}),
    row({.args = "apply MISSING --exit-fix yes", .exit = 1, .err_has = {"--exit-fix must"}}),

    // Files that cannot be used: exit 3, nothing written or made.
    // scan --json says why as apply --json does.
    row({.args = "scan --json MISSING", .exit = 3,
         .out_has = {"\"open_failed\", \"message\": \"cannot be opened for reading. The file is not there"}}),
    // The path as JSON: UTF-8 as it is, every other byte as Latin-1 (overlong forms, surrogates and code
    // points past U+10FFFF are none).
    row({.args = "scan --json /M/a\xc3\xa9" "b\xc3\xc0" "c\xe0\x9f\x80" "d\xed\xa0\x80" "e\xf4\x90\x80\x80"
         "g\xe1\xc0\x80" "h\xe0\xa0\x80" "i\xf0\x90\x80\x80" "j\xc2\x80" "k\xe1\x80\x80" "l\xe1\x80\xc0"
         "m\xf5\x80\x80\x80" "n\xe0\xc0\x80" "o\xed\x9f\xbf" "p\xee\xa0\x80", .exit = 3,
         .out_has = {"{\"path\": \"/M/a\xc3\xa9" "b\\u00c3\\u00c0c\\u00e0\\u009f\\u0080d\\u00ed\\u00a0\\u0080"
         "e\\u00f4\\u0090\\u0080\\u0080g\\u00e1\\u00c0\\u0080h\xe0\xa0\x80" "i\xf0\x90\x80\x80" "j\xc2\x80"
         "k\xe1\x80\x80" "l\\u00e1\\u0080\\u00c0m\\u00f5\\u0080\\u0080\\u0080n\\u00e0\\u00c0\\u0080o\xed\x9f\xbf"
         "p\xee\xa0\x80\", "}}),
    row({.args = "apply MISSING --exit-fix on", .exit = 3, .err_has = {"opened for reading"}}),
    row({.args = "scan --json FOLDER", .exit = 3, .out_has = {"reading. This is not a regular file"}}),
    row({.args = "scan --json EMPTY", .exit = 3, .out_has = {"\"result\": \"empty_file\""}}),
    row({.args = "apply FIFO --exit-fix on", .exit = 3, .err_has = {"not a regular file"}}),
    row({.args = "apply LINK --exit-fix on", .exit = 3, .err_has = {"not there"}}),
    row({.args = "apply EMPTY --exit-fix on --backup", .exit = 3, .err_has = {"empty"}}),
    row({.args = "apply GAME --exit-fix on --backup", .exit = 3, .err_has = {"cannot be opened for writing", "chmod u+rw"},
         .mode = 0444}),
    row({.args = "apply GAME --exit-fix on --dry-run", .exit = 3, .err_has = {"cannot be opened for writing", "chmod u+rw"},
         .mode = 0444}),
    row({.args = "scan GAME", .out_has = {"year 2001"}, .mode = 0444}),
    row({.args = "scan --json GAME", .exit = 3, .out_has = {"for reading. Permission denied: make the file"}, .mode = 0}),
};

TEST(zandor_patcher_cli, runs_each_case_as_documented)
{
    const std::string dir = scratch_path("dir"), game = dir + "/ZANDOR.EXE", missing = dir + "/M", empty = dir + "/E",
                      expected = scratch_path("expected");
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(std::filesystem::create_directory(dir) && write_file(empty, {}) && mkfifo((dir + "/F").c_str(), 0644) == 0
                && symlink(missing.c_str(), (dir + "/L").c_str()) == 0);
    const std::map<std::string, std::string> paths = {{"GAME", game},   {"MISSING", missing}, {"FOLDER", dir}, {"BAK", game + ".bak"},
                                                      {"EMPTY", empty}, {"FIFO", dir + "/F"}, {"LINK", dir + "/L"}};
    for (const cli_case &c : cases) {
        const testing::ScopedTrace trace(c.row.file_name(), c.row.line(), c.args);
        std::filesystem::remove(game + ".bak");
        const sample_recipe image = make_image(game, c.image);
        if (c.backup != nullptr)
            make_image(game + ".bak", *c.backup, c.backup_size);
        const bytes before = read_file(game), bak = read_file(game + ".bak");
        std::vector<std::string> argv;
        std::istringstream words(c.args);
        for (std::string w; words >> w;)
            argv.push_back(paths.contains(w) ? paths.at(w) : w);
        chmod(game.c_str(), c.mode);
        const run_result r = run_program(CLI_PATH, argv, 60, c.mode != 0644 && getuid() == 0 ? 65534 : -1);
        chmod(game.c_str(), 0644);
        EXPECT_EQ(r.exit_code, c.exit) << r.out << r.err;
        for (const auto &[parts, seen, there] : {std::tuple{&c.out_has, r.out, true}, {&c.err_has, r.err, true},
                                                 {&c.not_has, r.out + r.err, false}})
            for (const std::string &p : *parts)
                EXPECT_EQ(has(seen, p), there) << p << " in:\n" << seen;
        const std::string a = c.args;
        // A script may take anything on standard error for a failure.
        EXPECT_TRUE(c.exit != 0 || r.err.empty() || has(a, "--verbose")) << r.err;
        // Every refusal comes before the plan is printed.
        EXPECT_TRUE(c.exit < 2 || has(a, "--json") || argv[0] != "apply" || r.out.empty()) << r.out;
        const sample_recipe after = with(image, c.after);
        const bool restored = c.exit == 0 && argv[0] == "restore" && !has(a, "--dry-run") && c.backup != nullptr;
        EXPECT_TRUE(sample_write(expected.c_str(), &after) == 0 && read_file(game) == (restored ? bak : read_file(expected)));
        const bool backup = c.exit == 0 && has(a, "--backup") && !has(a, "--dry-run");
        EXPECT_TRUE(read_file(game + ".bak") == (backup && c.backup == nullptr ? before : bak));
        EXPECT_FALSE(std::filesystem::exists(missing));
    }
    std::filesystem::remove_all(dir);
    std::filesystem::remove(expected);
}

// Every refusal comes before the plan is printed and before anything is made,
// and a dry run meets the same ones as the real run.
TEST(zandor_patcher_cli, a_dry_run_refuses_what_the_real_run_refuses)
{
    enum obstacle { SIG_COPY, COPY_ON_THE_WAY, LONG_NAME, FOLDER_AS_BACKUP, READ_ONLY_FOLDER, LOCKED,
                    FOLDER_AS_PARTIAL, DANGLING_BACKUP, EMPTY_BACKUP, SHORT_BACKUP, OTHER_BACKUP, HARD_LINKED };
    const std::string made = "made; nothing was written\n", taken = "A folder, a device or a link has";
    const struct { where row; obstacle what; std::vector<std::string> err_has;
                   const char *args = "--exit-fix on --backup"; int exit = 3; } cases[] = {
        // 27200 is 40 6a: with ff 33 db 68 after it, "6a ff 33 db 68" again.
        {where::current(), SIG_COPY, {"would form or break a copy of a signature"}, "--start-year 27200", 2},
        // The game's promoted block, on the way from 5 to 3, ends in 00 00 before 89 8c 24 b0 00 00 00.
        {where::current(), COPY_ON_THE_WAY, {"a step on the way to it, would form or break a copy of a signature"},
         "--promoted 3", 2},
        {where::current(), LONG_NAME, {made, "backup copy's name would be too long"}},
        {where::current(), FOLDER_AS_BACKUP, {made, taken}},
        {where::current(), FOLDER_AS_PARTIAL, {made, taken}},
        {where::current(), DANGLING_BACKUP, {made, taken}},
        // Only a copy of this very file, but for its sites, is a backup.
        {where::current(), EMPTY_BACKUP, {"not a backup of this file", "Move FILE.bak away"}},
        {where::current(), SHORT_BACKUP, {"not a backup of this file"}},
        {where::current(), OTHER_BACKUP, {"not a backup of this file", "Move FILE.bak away"}},
        {where::current(), HARD_LINKED, {"another name too"}},
        {where::current(), READ_ONLY_FOLDER, {made, "The folder cannot be written"}},
        // Another copy of the patcher, between its check and its last write.
        {where::current(), LOCKED, {"cannot be opened for writing", "Another program is using the file"}, "--exit-fix on"},
    };
    const std::string dir = scratch_path("refusals");
    const uint8_t year_tail[] = {0xff, 0x33, 0xdb, 0x68}, wc06_tail[] = {0x89, 0x8c, 0x24, 0xb0, 0x00, 0x00, 0x00};
    for (const auto &c : cases)
        for (const std::string dry : {"--dry-run", ""}) {
            const testing::ScopedTrace trace(c.row.file_name(), c.row.line(), dry);
            std::filesystem::remove_all(dir);
            ASSERT_TRUE(std::filesystem::create_directory(dir));
            const std::string F = dir + "/" + (c.what == LONG_NAME ? std::string(246, 'Z') : "ZANDOR.EXE");
            const sample_recipe laid = make_image(F, conf(5, 2), 70000);
            bytes b = read_file(F);
            // Where the block of `site` ends.
            const auto end = [&](site_id site) {
                return b.begin() + laid.site[site].at + patch_catalogue[site].sig_len + patch_catalogue[site].block_len;
            };
            std::copy_n(year_tail, c.what == SIG_COPY ? 4 : 0, end(SITE_START_YEAR));
            std::copy_n(wc06_tail, c.what == COPY_ON_THE_WAY ? 7 : 0, end(SITE_CONF_PROMOTED));
            const int held = open(F.c_str(), O_RDONLY);
            bytes other = b;
            other[1] ^= 1;  // outside every site
            other.resize(c.what == EMPTY_BACKUP ? 0 : c.what == SHORT_BACKUP ? b.size() - 1 : b.size());
            const bool backup_file = c.what == EMPTY_BACKUP || c.what == SHORT_BACKUP || c.what == OTHER_BACKUP;
            ASSERT_TRUE(write_file(F, b) && (c.what != FOLDER_AS_BACKUP || mkdir((F + ".bak").c_str(), 0755) == 0)
                        && (c.what != FOLDER_AS_PARTIAL || (mkdir((F + ".bak.partial").c_str(), 0755) == 0
                                                            && write_file(F + ".bak.partial/x", b)))
                        && (c.what != DANGLING_BACKUP || symlink("nowhere", (F + ".bak").c_str()) == 0)
                        && (!backup_file || write_file(F + ".bak", other))
                        && (c.what != HARD_LINKED || link(F.c_str(), (dir + "/other").c_str()) == 0)
                        && (c.what != LOCKED || flock(held, LOCK_EX) == 0) && chmod(F.c_str(), 0666) == 0
                        && chmod(dir.c_str(), c.what == READ_ONLY_FOLDER ? 0555 : 0755) == 0);
            const auto there = folder_snapshot(dir);
            std::vector<std::string> argv = {"apply", F};
            std::istringstream words(c.args + (" " + dry));
            for (std::string w; words >> w;)
                argv.push_back(w);
            const run_result r = run_program(CLI_PATH, argv, 60, c.what == READ_ONLY_FOLDER && getuid() == 0 ? 65534 : -1);
            chmod(dir.c_str(), 0755);
            close(held);
            EXPECT_EQ(r.exit_code, c.exit) << r.err;
            EXPECT_EQ(r.out, "");
            for (const std::string &p : c.err_has)
                EXPECT_TRUE(has(r.err, p)) << p << " in:\n" << r.err;
            EXPECT_TRUE(folder_snapshot(dir) == there) << "a file made, changed or removed";
        }
    std::filesystem::remove_all(dir);
}

// A reader that went away neither kills the tool nor leaves the player
// guessing: exit 4, and nothing written. (Output that fails once the file is
// written is the fault tests' business.)
// A pipe whose reader is gone before the tool starts, or no standard output
// at all (where the scan's null sink would take its place): with and without
// the scan's notes, and in JSON, exit 4 and nothing written.
TEST(zandor_patcher_cli, a_closed_pipe_is_told_not_fatal)
{
    const std::string F = scratch_path("pipe"), fifo = scratch_path("fifo");
    make_image(F, {}, 70000);
    const bytes before = read_file(F);
    const char *const gone = "mkfifo \"$2\" && exec 3<>\"$2\" 4>\"$2\" 3<&- && rm \"$2\" && \"$0\" apply \"$1\" --start-year 2010 $3 >&4";
    for (const char *shell : {gone, "exec \"$0\" apply \"$1\" --start-year 2010 $3 >&-"})
        for (const char *more : {"", "--verbose", "--json"}) {
            const run_result r = run_program("/bin/bash", {"-c", shell, CLI_PATH, F, fifo, more});
            EXPECT_TRUE(r.exit_code == 4 && has(r.err, "nothing was written") && read_file(F) == before)
                << r.err << more;
        }
}

} // namespace
