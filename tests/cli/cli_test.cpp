// Black-box runs of zandor-patcher-cli on images from make_sample: what it
// prints, its exit status, and every byte of the file afterwards against a
// fresh scan and the catalogue.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "file_bytes.h"
#include "patch/patch_run.h"
#include "run_program.h"
#include "scratch_path.h"

namespace {

enum block_after : int { UNTOUCHED, GAMES, OURS };

// What a run leaves at each site of the scan before it; by default nothing.
struct writes {
    int start_year = 0; // a year written, or 0
    bool wc06 = false;  // our fix
    int bosman_year = 0;
    block_after click_delay = UNTOUCHED;
    int delay = 0; // ours
    block_after exitgame = UNTOUCHED;
    block_after conference = UNTOUCHED; // both blocks
    int promoted = 0, relegated = 0;    // ours
};

bytes expected_file(bytes b, const patch_target *t, const writes &w)
{
    const auto at = [&](int site, int pos) -> uint8_t & { return b.at(static_cast<std::size_t>(target_site_ofs(t, site) + pos)); };
    // Puts the block in; true when it is ours, whose values come next.
    const auto put = [&](int site, block_after a) {
        const site_entry &e = patch_catalogue[site];
        if (a != UNTOUCHED)
            std::copy_n(a == OURS ? e.patched : e.unpatched, e.block_len, &at(site, 0));
        return a == OURS;
    };
    for (const auto &[site, year] : {std::pair{SITE_START_YEAR, w.start_year}, {SITE_BOSMAN_YEAR, w.bosman_year}})
        if (year != 0) {
            at(site, 0) = static_cast<uint8_t>(year & 0xff);
            at(site, 1) = static_cast<uint8_t>(year >> 8);
        }
    put(SITE_WC06_FIX, w.wc06 ? OURS : UNTOUCHED);
    put(SITE_EXITGAME, w.exitgame);
    if (put(SITE_CLICK_DELAY, w.click_delay))
        at(SITE_CLICK_DELAY, patch_catalogue[SITE_CLICK_DELAY].params[0].pos) = static_cast<uint8_t>(w.delay);
    if (put(SITE_CONF_COUNTS, w.conference)) {
        at(SITE_CONF_COUNTS, patch_catalogue[SITE_CONF_COUNTS].params[0].pos) = static_cast<uint8_t>(w.promoted);
        at(SITE_CONF_COUNTS, patch_catalogue[SITE_CONF_COUNTS].params[1].pos) = static_cast<uint8_t>(w.relegated);
    }
    if (put(SITE_CONF_PROMOTED, w.conference))
        at(SITE_CONF_PROMOTED, patch_catalogue[SITE_CONF_PROMOTED].params[0].pos) = static_cast<uint8_t>(w.promoted);
    return b;
}

// One run on a fresh image of its own. In `args`, GAME is the image, MISSING
// a file that is not there, FOLDER a folder, EMPTY an empty file, FIFO a
// named pipe (opening it would block) and LINK a link to MISSING.
struct cli_case {
    const char *image = "";     // make_sample --site settings
    const char *backup = nullptr;  // the sites of a FILE.bak there before, if any
    const char *args = "";
    int exit = 0;
    std::vector<std::string> out_has = {}, err_has = {}, not_has = {}; // on standard output, error, neither
    writes w{};
    mode_t mode = 0644; // anything else: run as nobody when root
};

const char *const ours = "start_year=game:0x0a0d wc06_fix=patched click_delay=patched:6 exitgame=patched "
                         "conf_counts=patched:2,6 conf_promoted=patched:2";
const char *const odd = "start_year=absent click_delay=unrecognised exitgame=unrecognised conf_counts=absent";
const char *const odd2 = "wc06_fix=unrecognised bosman_year=duplicated click_delay=patched:7 "
                         "exitgame=truncated conf_promoted=duplicated";
// Three sites across the edges of the 64 KiB windows that the search reads.
const char *const placed =
    "start_year=game@196602 wc06_fix=game@1000 bosman_year=game@5000 click_delay=game@65526 "
    "exitgame=game@9000 conf_counts=game@20000 conf_promoted=game@131007";
const char *const damaged = "click_delay=unrecognised:0x85 exitgame=unrecognised:0xe9";
// Our counts next to the game's promoted block: a change cut off after its first write.
const char *const half_written = "conf_counts=patched:6,2";
const char *const no_conf = "\"conf_counts_ofs\": -1, \"conf_promoted_ofs\": -1, \"promoted\": 1,";

const cli_case cases[] = {
    // Scan: the record and the table, in each state of each site.
    {.image = placed, .args = "scan --json GAME", .out_has = {
     "{\"start_year_ofs\": 196607, \"start_year\": 2001, \"wc06_ofs\": 1009, \"wc06_installed\": 0, "
     "\"bosman_year_ofs\": 5021, \"bosman_year\": 2002, \"click_delay_ofs\": 65544, \"click_delay\": -1, "
     "\"exitgame_ofs\": 9025, \"exitgame_installed\": 0, \"conf_counts_ofs\": 20063, \"conf_promoted_ofs\": "
     "131072, \"promoted\": 1, \"relegated\": 3, \"touch_conference\": 0, \"conf_installed\": 0, \"path\": \"/",
     "\"size\": 262144, \"version\": \"1.0.0\", \"absent\": {}, \"damaged\": [], \"backup\": null}\n"}},
    {.image = placed, .args = "scan GAME", .out_has = {"(262144 bytes)\nsite            offset                   state\n"
                                                       "start_year      0x0002ffff (196607)      year 2001\nwc06_fix  "}},
    {.image = ours, .args = "scan GAME", .out_has = {"  delay 6\n", "  year 2573\n", "  promoted 2, relegated 6\n",
                                                     "  promoted 2\n", "  installed\n"}},
    {.image = ours, .args = "scan --json GAME", .out_has = {"wc06_installed\": 1", "delay\": 6,", "exitgame_installed\": 1"},
     .not_has = {"ofs\": -1"}},
    {.image = odd, .args = "scan GAME",
     .out_has = {"absent                   code not recognised\n", "absent                   not found\n"}},
    {.image = odd, .args = "scan --json --verbose GAME",
     .out_has = {"\"absent\": {\"start_year\": \"not_found\", \"click_delay\": \"unknown_code\"",
                 "\"click_delay_ofs\": -1, \"click_delay\": -2"},
     .err_has = {"is CC\n"}, .not_has = {"promoted_ofs\": -1"}},
    {.image = odd2, .args = "scan GAME", .out_has = {"  installed, delay not recognised\n"}},
    {.image = odd2, .args = "scan --json --verbose GAME",
     .out_has = {"\"wc06_ofs\": -1", "\"bosman_year_ofs\": -1, \"bosman_year\": 0",
                 "\"absent\": {\"wc06_fix\": \"unknown_code\", \"bosman_year\": \"found_twice\", \"exitgame\": "
                 "\"cut_off\", \"conf_counts\": \"pair_mismatch\", \"conf_promoted\": \"found_twice\"}, \"damaged\": [], \"backup\": null}"},
     .err_has = {"ofs2 = -1\n"}},
    {.image = "start_year=game:0x081a bosman_year=truncated click_delay=patched:1 conf_counts=patched:7,200 "
              "conf_promoted=patched:7", .args = "scan --json GAME",
     .out_has = {"\"start_year\": 2074", "\"bosman_year_ofs\": -1, \"bosman_year\": 0", "\"click_delay\": 1,",
                 "\"promoted\": 7, \"relegated\": -56"},
     .not_has = {"counts_ofs\": -1", "promoted_ofs\": -1"}},
    {.image = "start_year=duplicated click_delay=patched:0 exitgame=duplicated@70000,200000 conf_counts=patched:0,3 "
              "conf_promoted=patched:0", .args = "scan --json GAME --verbose",
     .out_has = {"\"start_year_ofs\": -1, \"start_year\": 0", "\"click_delay\": -2"},
     .err_has = {"exitgame: ofs = 70000, ofs2 = 200000\n"}, .not_has = {"\"click_delay_ofs\": -1"}},
    {.image = "conf_counts=patched:8,3 conf_promoted=patched:8 exitgame=absent", .args = "scan --verbose --json GAME",
     .out_has = {"\"conf_promoted_ofs\": -1, \"promoted\": 1, \"relegated\": 3"}, .err_has = {"ofs = -1, ofs2 = -1\n"}},
    {.image = "conf_counts=patched:4,3 conf_promoted=patched:5", .args = "scan --json GAME",
     .out_has = {"ofs\": -1, \"promoted\": 4,"}},
    // The counts block has the count, and the next apply finishes it.
    {.image = half_written, .args = "scan --json GAME", .out_has = {"\"promoted\": 6, \"relegated\": 2"},
     .not_has = {"ofs\": -1"}},
    {.image = half_written, .args = "scan GAME",
     .out_has = {"promoted 6, relegated 2\n", "promoted 6, half-written: the next apply finishes it\n"}},
    {.image = half_written, .args = "apply GAME --relegated 7", .not_has = {"-> promoted 6, half-written"},
     .w = {.conference = OURS, .promoted = 6, .relegated = 7}},
    // Whether a site changes is the bytes' business: here the counts stay, the promoted block does not.
    {.image = half_written, .args = "apply GAME --relegated 2 --dry-run",
     .out_has = {"relegated 2 -> promoted 6, relegated 2 (no change)\n", "finishes it -> promoted 6\n"}},
    {.image = "conf_promoted=patched:1", .args = "scan --json GAME", .out_has = {no_conf}},
    // Our byte 0 before the game's other bytes, as a write cut off inside the block leaves it: told, and the
    // same change repairs it, which is a change.
    {.image = damaged, .args = "scan --json GAME", .out_has = {"\"damaged\": [\"click_delay\", \"exitgame\"], \"backup\": null}"}},
    {.image = damaged, .args = "apply GAME --exit-fix on --click-delay 5",
     .out_has = {"again -> installed\n", "recognised, damaged"}, .not_has = {"(no change)"},
     .w = {.click_delay = OURS, .delay = 5, .exitgame = OURS}},
    {.image = "conf_promoted=unrecognised", .args = "scan --json GAME", .out_has = {no_conf}},
    {.image = "conf_counts=unrecognised", .args = "scan --json GAME", .out_has = {"\"conf_counts_ofs\": -1"},
     .not_has = {"promoted_ofs\": -1"}},

    // Apply: each option writes its site, and only what it asks for.
    {.args = "apply GAME --start-year 2000 --bosman-year 29999", .out_has = {"Checked"},
     .w = {.start_year = 2000, .bosman_year = 29999}},
    {.args = "apply GAME --start-year 29999 --wc06 --bosman-year 2000",
     .w = {.start_year = 29999, .wc06 = true, .bosman_year = 2000}},
    {.args = "apply GAME --start-year 2003 --wc06 --click-delay 1", .out_has = {"not installed -> delay 1\n"},
     .w = {.start_year = 2003, .wc06 = true, .click_delay = OURS, .delay = 1}},
    {.args = "apply GAME --start-year 2002 --wc06", .out_has = {"not installed (no change)"}, .w = {.start_year = 2002}},
    {.image = ours, .args = "apply GAME --promoted 2 --relegated 6 --dry-run",
     .out_has = {"relegated 6 -> promoted 2, relegated 6 (no change)\n", "promoted 2 -> promoted 2 (no change)\n"}},
    {.args = "apply GAME --promoted 7 --click-delay 6",
     .w = {.click_delay = OURS, .delay = 6, .conference = OURS, .promoted = 7, .relegated = 3}},
    {.args = "apply GAME --relegated 0 --exit-fix on",
     .w = {.exitgame = OURS, .conference = OURS, .promoted = 1, .relegated = 0}},
    {.image = "exitgame=patched conf_counts=patched:1,0 conf_promoted=patched:1",
     .args = "apply GAME --promoted 1 --relegated 7 --exit-fix off",
     .w = {.exitgame = GAMES, .conference = OURS, .promoted = 1, .relegated = 7}},
    {.image = ours, .args = "apply GAME --click-delay off --exit-fix off --conference-original",
     .w = {.click_delay = GAMES, .exitgame = GAMES, .conference = GAMES}},
    {.image = ours, .args = "apply GAME --relegated 7 --start-year 2004 --wc06",
     .w = {.start_year = 2004, .wc06 = true, .conference = OURS, .promoted = 2, .relegated = 7}},
    {.image = odd, .args = "apply GAME --bosman-year 2010", .w = {.bosman_year = 2010}},
    {.image = placed, .args = "apply GAME --click-delay 3 --promoted 5 --start-year 2222",
     .w = {.start_year = 2222, .click_delay = OURS, .delay = 3, .conference = OURS, .promoted = 5, .relegated = 3}},
    {.args = "apply GAME --dry-run --backup --start-year 2010", .out_has = {"year 2001 -> year 2010", "Dry run"}},
    // The game's conference code is not ours holding 1 and 3.
    {.args = "apply GAME --promoted=1 --relegated=3", .out_has = {"game's code -> promoted 1, relegated 3\n"},
     .not_has = {"(no change)"}, .w = {.conference = OURS, .promoted = 1, .relegated = 3}},
    {.image = "conf_counts=patched:1,3 conf_promoted=patched:1", .args = "apply GAME --conference-original --dry-run",
     .out_has = {"promoted 1, relegated 3 -> game's code\n"}},
    {.image = ours, .args = "apply GAME --json --conference-original",
     .out_has = {"\"old\": \"promoted 2, relegated 6\", \"new\": \"game's code\", \"change\": 1}",
                 "\"written\": {\"conf_counts\": 1, \"conf_promoted\": 1}, \"backup_made\": 0, \"result\": \"done\""},
     .not_has = {"Checked"}, .w = {.conference = GAMES}},
    {.args = "apply GAME --json --dry-run --exit-fix on", .out_has = {"\"written\": {\"exitgame\": 0}, \"backup_made\": 0"}},
    {.args = "apply --json=1 GAME", .exit = 1, .err_has = {"--json takes no value"}},
    {.args = "--version", .out_has = {"zandor-patcher-cli 1.0.0\n"}},
    {.args = "--help", .out_has = {"usage:"}},
    {.args = "/?", .out_has = {"usage:"}},
    {.args = "-h", .out_has = {"usage:", "--version", "--start-year=2010", "4 standard output"}},
    {.args = "apply GAME --backup --exit-fix on", .out_has = {"Backup written"}, .w = {.exitgame = OURS}},
    // A backup of the game as it came is kept, and the run goes on.
    {.image = "exitgame=patched", .backup = "", .args = "apply GAME --backup --exit-fix off --json",
     .out_has = {"\"backup_made\": 0, \"result\": \"done\""}, .w = {.exitgame = GAMES}},
    {.image = "exitgame=patched click_delay=patched:2", .backup = "click_delay=patched:5",
     .args = "apply GAME --backup --exit-fix off", .out_has = {"Backup kept"}, .w = {.exitgame = GAMES}},

    // A requested site that is absent or cannot take the change: exit 2.
    {.image = ours, .args = "apply GAME --start-year 2001 --wc06", .exit = 2, .err_has = {"World Cup 06 fix"}},
    {.image = odd, .args = "apply GAME --json --start-year 2010 --bosman-year 2010", .exit = 2,
     .out_has = {"\"message\": \"start year: absent (not found); nothing was written\", \"site\": \"start_year\""}},
    {.image = odd, .args = "apply GAME --click-delay off --backup", .exit = 2, .err_has = {"click"}},
    {.image = odd, .args = "apply GAME --exit-fix on", .exit = 2, .err_has = {"exit fix"}},
    {.image = odd, .args = "apply GAME --conference-original", .exit = 2, .err_has = {"conference counts"}},
    {.image = odd2, .args = "apply GAME --start-year 2010 --wc06", .exit = 2, .err_has = {"Cup"}},
    {.image = odd2, .args = "apply GAME --bosman-year 2010", .exit = 2, .err_has = {"Bosman"}},

    // Bad usage or values: exit 1.
    {.args = "", .exit = 1, .err_has = {"no command"}},
    {.args = "frob GAME", .exit = 1, .err_has = {"unknown command 'frob'"}},
    {.args = "scan", .exit = 1, .err_has = {"scan needs a FILE"}},
    {.args = "apply GAME", .exit = 1, .err_has = {"no change requested"}},
    {.args = "apply GAME --dry-run --turbo", .exit = 1, .err_has = {"'--turbo'"}},
    {.args = "scan GAME --exit-fix on", .exit = 1, .err_has = {"'--exit-fix'"}},
    {.args = "apply GAME GAME --exit-fix on", .exit = 1, .err_has = {"one FILE"}},
    {.args = "apply GAME --start-year", .exit = 1, .err_has = {"--start-year needs a"}},
    {.args = "apply GAME --wc06 --wc06", .exit = 1, .err_has = {"more than once"}},
    {.args = "apply GAME --start-year 20x5", .exit = 1, .err_has = {"year must"}},
    {.args = "apply GAME --start-year 1999", .exit = 1, .err_has = {"year must"}},
    {.args = "apply GAME --start-year 30000", .exit = 1, .err_has = {"year must"}},
    {.args = "apply GAME --bosman-year 30000", .exit = 1, .err_has = {"bosman-year must"}},
    {.args = "apply GAME --wc06", .exit = 1, .err_has = {"needs --start"}},
    {.args = "apply GAME --promoted 0", .exit = 1, .err_has = {"--promoted must"}},
    {.args = "apply GAME --promoted 8", .exit = 1, .err_has = {"--promoted must"}},
    {.args = "apply GAME --relegated -1", .exit = 1, .err_has = {"relegated must"}},
    {.args = "apply GAME --relegated 8", .exit = 1, .err_has = {"relegated must"}},
    {.args = "apply GAME --click-delay 7", .exit = 1, .err_has = {"delay must"}},
    {.args = "apply GAME --click-delay 0", .exit = 1, .err_has = {"delay must"}},
    {.args = "apply GAME --promoted 2 --conference-original", .exit = 1, .err_has = {"cannot be combined"}},
    {.args = "apply MISSING --exit-fix yes", .exit = 1, .err_has = {"--exit-fix must"}},

    // Files that cannot be used: exit 3, nothing written or made.
    // scan --json says why as apply --json does.
    {.args = "scan --json MISSING", .exit = 3, .out_has = {"\"open_failed\", \"message\": \"cannot be opened for reading. The file is not there"}},
    {.args = "apply MISSING --exit-fix on", .exit = 3, .err_has = {"opened for reading"}},
    {.args = "scan --json FOLDER", .exit = 3, .out_has = {"reading. This is not a regular file"}},
    {.args = "scan --json EMPTY", .exit = 3, .out_has = {"\"result\": \"empty_file\""}},
    {.args = "apply FIFO --exit-fix on", .exit = 3, .err_has = {"not a regular file"}},
    {.args = "apply LINK --exit-fix on", .exit = 3, .err_has = {"not there"}},
    {.args = "apply EMPTY --exit-fix on --backup", .exit = 3, .err_has = {"empty"}},
    {.args = "apply GAME --exit-fix on --backup", .exit = 3, .err_has = {"cannot be opened for writing", "chmod u+rw"},
     .mode = 0444},
    {.args = "apply GAME --exit-fix on --dry-run", .exit = 3,
     .err_has = {"cannot be opened for writing", "chmod u+rw"}, .mode = 0444},
    {.args = "scan GAME", .out_has = {"year 2001"}, .mode = 0444},
    {.args = "scan --json GAME", .exit = 3, .out_has = {"for reading. Permission denied: make the file"}, .mode = 0},
};

bool has(const std::string &seen, const std::string &part)
{
    return seen.find(part) != seen.npos;
}

TEST(zandor_patcher_cli, runs_each_case_as_documented)
{
    const std::string dir = scratch_path("dir"), game = dir + "/ZANDOR.EXE", missing = dir + "/M", empty = dir + "/E";
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(std::filesystem::create_directory(dir) && write_file(empty, {}) && mkfifo((dir + "/F").c_str(), 0644) == 0
                && symlink(missing.c_str(), (dir + "/L").c_str()) == 0);
    const std::map<std::string, std::string> paths = {{"GAME", game},   {"MISSING", missing}, {"FOLDER", dir},
                                                      {"EMPTY", empty}, {"FIFO", dir + "/F"}, {"LINK", dir + "/L"}};
    for (const cli_case &c : cases) {
        SCOPED_TRACE(std::string(c.image) + ": " + c.args);
        std::filesystem::remove(game + ".bak");
        for (const auto &[file, image] : {std::pair{game, c.image}, {game + ".bak", c.backup}}) {
            std::vector<std::string> make = {file, "--size", "262144"};
            std::istringstream sites(image != nullptr ? image : "");
            for (std::string s; sites >> s;)
                make.insert(make.end(), {"--site", s});
            ASSERT_TRUE(image == nullptr || run_program(MAKE_SAMPLE_PATH, make).exit_code == 0);
        }
        const bytes before = read_file(game);
        const bytes bak = read_file(game + ".bak");
        patch_target *t = nullptr;
        ASSERT_EQ(scan_file(game.c_str(), &t), RESULT_OK);
        std::vector<std::string> argv;
        std::istringstream words(c.args);
        for (std::string w; words >> w;)
            argv.push_back(paths.contains(w) ? paths.at(w) : w);
        chmod(game.c_str(), c.mode);
        const run_result r = run_program(CLI_PATH, argv, 60, c.mode != 0644 && getuid() == 0 ? 65534 : -1);
        chmod(game.c_str(), 0644);
        EXPECT_EQ(r.exit_code, c.exit) << r.out << r.err;
        for (const std::string &p : c.out_has)
            EXPECT_TRUE(has(r.out, p)) << p << " in:\n" << r.out;
        for (const std::string &p : c.err_has)
            EXPECT_TRUE(has(r.err, p)) << p << " in:\n" << r.err;
        for (const std::string &p : c.not_has)
            EXPECT_FALSE(has(r.out + r.err, p)) << p << " in:\n" << r.out << r.err;
        const std::string a = c.args;
        // A script may take anything on standard error for a failure.
        EXPECT_TRUE(c.exit != 0 || r.err.empty() || has(a, "--verbose")) << r.err;
        // Every refusal comes before the plan is printed.
        EXPECT_TRUE(c.exit < 2 || has(a, "--json") || argv[0] != "apply" || r.out.empty()) << r.out;
        EXPECT_TRUE(read_file(game) == expected_file(before, t, c.w));
        const bool backup = c.exit == 0 && has(a, "--backup") && !has(a, "--dry-run");
        EXPECT_TRUE(read_file(game + ".bak") == (backup && c.backup == nullptr ? before : bak));
        EXPECT_FALSE(std::filesystem::exists(missing));
        close_target(t);
    }
    std::filesystem::remove_all(dir);
}

// Every refusal comes before the plan is printed and before anything is made,
// and a dry run meets the same ones as the real run.
TEST(zandor_patcher_cli, a_dry_run_refuses_what_the_real_run_refuses)
{
    enum obstacle { SIG_COPY, COPY_ON_THE_WAY, LONG_NAME, FOLDER_AS_BACKUP, READ_ONLY_FOLDER, LOCKED,
                    FOLDER_AS_PARTIAL, DANGLING_BACKUP, EMPTY_BACKUP, SHORT_BACKUP, OTHER_BACKUP, HARD_LINKED };
    const struct { obstacle what; const char *args; int exit; std::vector<std::string> err_has; } cases[] = {
        // 27200 is 40 6a: with ff 33 db 68 after it, "6a ff 33 db 68" again.
        {.what = SIG_COPY, .args = "--start-year 27200", .exit = 2,
         .err_has = {"would form or break a copy of a signature"}},
        // The game's promoted block, on the way from 5 to 3, ends in 00 00 before 89 8c 24 b0 00 00 00.
        {.what = COPY_ON_THE_WAY, .args = "--promoted 3", .exit = 2,
         .err_has = {"a step on the way to it, would form or break a copy of a signature"}},
        {.what = LONG_NAME, .args = "--exit-fix on --backup", .exit = 3,
         .err_has = {"made; nothing was written\n", "backup copy's name would be too long"}},
        {.what = FOLDER_AS_BACKUP, .args = "--exit-fix on --backup", .exit = 3,
         .err_has = {"made; nothing was written\n", "A folder, a device or a link has"}},
        {.what = FOLDER_AS_PARTIAL, .args = "--exit-fix on --backup", .exit = 3,
         .err_has = {"made; nothing was written\n", "A folder, a device or a link has"}},
        {.what = DANGLING_BACKUP, .args = "--exit-fix on --backup", .exit = 3,
         .err_has = {"made; nothing was written\n", "A folder, a device or a link has"}},
        // Only a copy of this very file, but for its sites, is a backup.
        {.what = EMPTY_BACKUP, .args = "--exit-fix on --backup", .exit = 3,
         .err_has = {"not a backup of this file", "Move FILE.bak away"}},
        {.what = SHORT_BACKUP, .args = "--exit-fix on --backup", .exit = 3, .err_has = {"not a backup of this file"}},
        {.what = OTHER_BACKUP, .args = "--exit-fix on --backup", .exit = 3,
         .err_has = {"not a backup of this file", "Move FILE.bak away"}},
        {.what = HARD_LINKED, .args = "--exit-fix on --backup", .exit = 3, .err_has = {"another name too"}},
        {.what = READ_ONLY_FOLDER, .args = "--exit-fix on --backup", .exit = 3,
         .err_has = {"made; nothing was written\n", "The folder cannot be written"}},
        // Another copy of the patcher, between its check and its last write.
        {.what = LOCKED, .args = "--exit-fix on", .exit = 3,
         .err_has = {"cannot be opened for writing", "Another program is using the file"}},
    };
    const std::string dir = scratch_path("refusals");
    const uint8_t year_tail[] = {0xff, 0x33, 0xdb, 0x68}, wc06_tail[] = {0x89, 0x8c, 0x24, 0xb0, 0x00, 0x00, 0x00};
    for (const auto &c : cases)
        for (const std::string dry : {"--dry-run", ""}) {
            SCOPED_TRACE(std::string(c.args) + " " + dry);
            std::filesystem::remove_all(dir);
            ASSERT_TRUE(std::filesystem::create_directory(dir));
            const std::string F = dir + "/" + (c.what == LONG_NAME ? std::string(246, 'Z') : "ZANDOR.EXE");
            ASSERT_EQ(run_program(MAKE_SAMPLE_PATH, {F, "--size", "70000", "--site", "conf_counts=patched:5,2", "--site",
                                                     "conf_promoted=patched:5"}).exit_code, 0);
            patch_target *t = nullptr;
            ASSERT_EQ(scan_file(F.c_str(), &t), RESULT_OK);
            bytes b = read_file(F);
            std::copy_n(year_tail, c.what == SIG_COPY ? 4 : 0, b.begin() + t->start_year_ofs + 2);
            std::copy_n(wc06_tail, c.what == COPY_ON_THE_WAY ? 7 : 0,
                        b.begin() + t->conf_promoted_ofs + patch_catalogue[SITE_CONF_PROMOTED].block_len);
            close_target(t);
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

// restore puts a backup of the file back exactly, and only such a backup:
// one that cannot be read is exit 3, one that does not fit exit 2, and
// either way, or in a dry run, the file and the backup stay as they are.
TEST(zandor_patcher_cli, restore_puts_only_a_backup_of_the_file_back)
{
    enum backup_kind { MADE, CHANGED_OUTSIDE, EMPTY, CUT_SHORT, MISSING, FOLDER, THE_FILE, DANGLING };
    const struct {
        int line;
        backup_kind kind;
        const char *args;
        int exit;
        std::vector<std::string> err_has;
    } cases[] = {
        {__LINE__, MADE, "", 0, {}},
        {__LINE__, MADE, "--dry-run", 0, {}},
        {__LINE__, MADE, "--json", 0, {}},
        {__LINE__, MADE, "scan", 0, {}},
        {__LINE__, CHANGED_OUTSIDE, "scan", 0, {}},
        {__LINE__, MADE, "scan --json", 0, {}},
        {__LINE__, THE_FILE, "", 0, {}},
        {__LINE__, CHANGED_OUTSIDE, "", 2, {"the backup does not fit this file"}},
        {__LINE__, CHANGED_OUTSIDE, "--dry-run", 2, {"the backup does not fit this file"}},
        {__LINE__, EMPTY, "", 2, {"the backup does not fit this file"}},
        {__LINE__, CUT_SHORT, "", 2, {"the backup does not fit this file"}},
        {__LINE__, MISSING, "--dry-run", 3, {"the backup cannot be read", "not there"}},
        {__LINE__, FOLDER, "", 3, {"the backup cannot be read", "not a regular file"}},
        {__LINE__, DANGLING, "", 3, {"the backup cannot be read", "not there"}},
    };
    const std::string dir = scratch_path("restore"), F = dir + "/ZANDOR.EXE", B = dir + "/old.bak";
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "cli_test.cpp:" << c.line);
        std::filesystem::remove_all(dir);
        ASSERT_TRUE(std::filesystem::create_directory(dir));
        ASSERT_EQ(run_program(MAKE_SAMPLE_PATH, {F, "--size", "200000"}).exit_code, 0);
        bytes original = read_file(F);
        ASSERT_EQ(run_program(CLI_PATH, {"apply", F, "--start-year", "2010", "--wc06", "--promoted", "5", "--click-delay",
                                         "2", "--exit-fix", "on"}).exit_code, 0);
        original[1] ^= c.kind == CHANGED_OUTSIDE ? 1 : 0;
        original.resize(c.kind == EMPTY ? 0 : c.kind == CUT_SHORT ? original.size() - 1 : original.size());
        ASSERT_TRUE(c.kind == MISSING || c.kind == THE_FILE || (c.kind == DANGLING && symlink("gone", B.c_str()) == 0)
                    || (c.kind == FOLDER ? mkdir(B.c_str(), 0755) == 0 : write_file(B, original)));
        const bytes patched = read_file(F),
                    kept = c.kind == THE_FILE ? patched : c.kind == FOLDER || c.kind == DANGLING ? bytes{} : read_file(B);
        const bool scan = has(c.args, "scan");
        std::vector<std::string> argv = {"restore", F, "--from", c.kind == THE_FILE ? F : B};
        if (*c.args != '\0')
            argv.push_back(c.args);
        // scan names a backup beside the file, and whether it is one.
        if (scan && std::rename(B.c_str(), (F + ".bak").c_str()) == 0)
            argv = {"scan", F, has(c.args, "--json") ? "--json" : "--verbose"};
        const run_result r = run_program(CLI_PATH, argv);
        EXPECT_EQ(r.exit_code, c.exit) << r.err;
        for (const std::string &p : c.err_has)
            EXPECT_TRUE(has(r.err, p)) << p << " in:\n" << r.err;
        EXPECT_TRUE(!scan || has(r.out, has(c.args, "--json")   ? "\"backup\": \"verified\"}"
                                        : c.kind == MADE ? ".bak is a backup of this file"
                                                         : ".bak is not a backup")) << r.out;
        const bool restored = c.exit == 0 && !has(c.args, "--dry-run") && !scan;
        EXPECT_TRUE(read_file(F) == (restored ? kept : patched));
        EXPECT_TRUE(c.kind == FOLDER || c.kind == DANGLING || read_file(c.kind == THE_FILE ? F : scan ? F + ".bak" : B) == kept);
        EXPECT_TRUE(!has(c.args, "--json") || scan || has(r.out, "\"result\": \"done\"")) << r.out;
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
    ASSERT_EQ(run_program(MAKE_SAMPLE_PATH, {F, "--size", "70000"}).exit_code, 0);
    const bytes before = read_file(F);
    const char *const gone = "mkfifo \"$2\" && exec 3<>\"$2\" 4>\"$2\" 3<&- && rm \"$2\" && \"$0\" apply \"$1\" --start-year 2010 $3 >&4";
    for (const char *shell : {gone, "exec \"$0\" apply \"$1\" --start-year 2010 $3 >&-"})
        for (const char *more : {"", "--verbose", "--json"}) {
            const run_result r = run_program("/bin/bash", {"-c", shell, CLI_PATH, F, fifo, more});
            EXPECT_TRUE(r.exit_code == 4 && r.err.find("nothing was written") != r.err.npos) << r.err << more;
            EXPECT_TRUE(read_file(F) == before);
        }
}

} // namespace
