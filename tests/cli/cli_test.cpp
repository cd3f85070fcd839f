// Black-box runs of zandor-patcher-cli on images from make_sample: what it
// prints, its exit status, and every byte of the file afterwards against a
// fresh scan and the catalogue.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "file_bytes.h"
#include "patch/patch_run.h"
#include "run_program.h"
#include "scratch_path.h"

namespace {

// Per site what a run writes: 0 nothing; a year; -1 the game's block (for
// wc06_fix the one it was); > 0 ours (the delay for click_delay, promoted for
// conf_promoted, promoted * 10 + relegated for conf_counts).
struct want { int start = 0, wc06 = 0, bosman = 0, delay = 0, exit = 0, counts = 0, promoted = 0; };

bytes expected_file(bytes b, const patch_target *t, const want &w)
{
    const int v[SITE_COUNT] = {w.start, w.wc06, w.bosman, w.delay, w.exit, w.counts, w.promoted};
    for (int s = 0; s < SITE_COUNT; ++s) {
        if (v[s] == 0 || (s == SITE_WC06_FIX && v[s] < 0))
            continue;
        const site_entry &e = patch_catalogue[s];
        const uint8_t year[2] = {static_cast<uint8_t>(v[s] & 0xff), static_cast<uint8_t>(v[s] >> 8)};
        const uint8_t *block = e.kind == SITE_KIND_YEAR ? year : v[s] > 0 ? e.patched : e.unpatched;
        bytes put(block, block + e.block_len);
        // Parameter positions as listed: the delay at 25; promoted at 6 and relegated at 9; promoted at 9.
        const int at = s == SITE_CLICK_DELAY ? 25 : s == SITE_CONF_COUNTS || s == SITE_CONF_PROMOTED ? 9 : 0;
        if (v[s] > 0 && at > 0)
            put[at] = static_cast<uint8_t>(s == SITE_CONF_COUNTS ? v[s] % 10 : v[s]);
        if (v[s] > 0 && s == SITE_CONF_COUNTS)
            put[6] = static_cast<uint8_t>(v[s] / 10);
        std::copy(put.begin(), put.end(), b.begin() + target_site_ofs(t, s));
    }
    return b;
}

struct cli_case {
    const char *image; // make_sample --site settings; null: the file as the case before left it
    const char *args;  // F the image, M a missing file, D a folder, E an empty file
    int exit;
    const char *says;   // each |-part is printed (on stderr when it fails); a !part is not
    want w{};           // at the sites of a fresh scan
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
const char *const no_conf = "\"conf_counts_ofs\": -1, \"conf_promoted_ofs\": -1, \"promoted\": 1,";

const cli_case cases[] = {
    // Scan: the record and the table, in each state of each site.
    {placed, "scan --json F", 0,
     "{\"start_year_ofs\": 196607, \"start_year\": 2001, \"wc06_ofs\": 1009, \"wc06_installed\": 0, "
     "\"bosman_year_ofs\": 5021, \"bosman_year\": 2002, \"click_delay_ofs\": 65544, \"click_delay\": -1, "
     "\"exitgame_ofs\": 9025, \"exitgame_installed\": 0, \"conf_counts_ofs\": 20063, \"conf_promoted_ofs\": "
     "131072, \"promoted\": 1, \"relegated\": 3, \"touch_conference\": 0, \"conf_installed\": 0, \"path\": \"/|"
     "\"size\": 262144, \"version\": \"1.0.0\", \"absent\": {}}\n"},
    {nullptr, "scan F", 0, "(262144 bytes)\nsite            offset                   state\n"
                           "start_year      0x0002ffff (196607)      year 2001\nwc06_fix  "},
    {ours, "scan F", 0, "  delay 6\n|  year 2573\n|  promoted 2, relegated 6\n|  promoted 2\n|  installed\n"},
    {nullptr, "scan --json F", 0, "wc06_installed\": 1|delay\": 6,|exitgame_installed\": 1|!ofs\": -1"},
    {odd, "scan F", 0, "absent                   code not recognised\n|absent                   not found\n"},
    {nullptr, "scan --json --verbose F", 0, "is CC\n|\"absent\": {\"start_year\": \"not_found\", \"click_delay\": \"unknown_code\"|\"click_delay_ofs\": -1, \"click_delay\": -2|!promoted_ofs\": -1"},
    {odd2, "scan F", 0, "  installed, delay not recognised\n"},
    {nullptr, "scan --json --verbose F", 0, "\"wc06_ofs\": -1|\"bosman_year_ofs\": -1, \"bosman_year\": 0|ofs2 = -1\n|"
     "\"absent\": {\"wc06_fix\": \"unknown_code\", \"bosman_year\": \"found_twice\", \"exitgame\": \"cut_off\", "
     "\"conf_counts\": \"pair_mismatch\", \"conf_promoted\": \"found_twice\"}}"},
    {"start_year=game:0x081a bosman_year=truncated click_delay=patched:1 conf_counts=patched:7,200 "
     "conf_promoted=patched:7", "scan --json F", 0,
     "\"start_year\": 2074|\"bosman_year_ofs\": -1, \"bosman_year\": 0|\"click_delay\": 1,|"
     "\"promoted\": 7, \"relegated\": -56|!counts_ofs\": -1|!promoted_ofs\": -1"},
    {"start_year=duplicated click_delay=patched:0 exitgame=duplicated@70000,200000 conf_counts=patched:0,3 "
     "conf_promoted=patched:0", "scan --json F --verbose", 0,
     "\"start_year_ofs\": -1, \"start_year\": 0|!\"click_delay_ofs\": -1|\"click_delay\": -2|"
     "exitgame: ofs = 70000, ofs2 = 200000\n"},
    {"conf_counts=patched:8,3 conf_promoted=patched:8 exitgame=absent", "scan --verbose --json F", 0,
     "\"conf_promoted_ofs\": -1, \"promoted\": 1, \"relegated\": 3|ofs = -1, ofs2 = -1\n"},
    {"conf_counts=patched:4,3 conf_promoted=patched:5", "scan --json F", 0, "ofs\": -1, \"promoted\": 4,"},
    // Our counts next to the game's promoted block: a change cut off after its
    // first write. The counts block has the count, and the next apply finishes it.
    {"conf_counts=patched:6,2", "scan --json F", 0, "\"promoted\": 6, \"relegated\": 2|!ofs\": -1"},
    {nullptr, "scan F", 0, "promoted 6, relegated 2\n|promoted 6, half-written: the next apply finishes it\n"},
    {nullptr, "apply F --relegated 7", 0, "", {.counts = 67, .promoted = 6}},
    {"conf_promoted=patched:1", "scan --json F", 0, no_conf},
    {"conf_promoted=unrecognised", "scan --json F", 0, no_conf},
    {"conf_counts=unrecognised", "scan --json F", 0, "\"conf_counts_ofs\": -1|!promoted_ofs\": -1"},

    // Apply: each option writes its site, and only what it asks for.
    {"", "apply F --start-year 2000 --bosman-year 29999", 0, "Checked", {.start = 2000, .bosman = 29999}},
    {"", "apply F --start-year 29999 --wc06 --bosman-year 2000", 0, "", {29999, 1, 2000}},
    {"", "apply F --start-year 2003 --wc06 --click-delay 1", 0, "", {.start = 2003, .wc06 = 1, .delay = 1}},
    {"", "apply F --start-year 2002 --wc06", 0, "not installed (no change)", {.start = 2002}},
    {"", "apply F --promoted 7 --click-delay 6", 0, "", {.delay = 6, .counts = 73, .promoted = 7}},
    {"", "apply F --relegated 0 --exit-fix on", 0, "", {.exit = 1, .counts = 10, .promoted = 1}},
    {nullptr, "apply F --promoted 1 --relegated 7 --exit-fix off", 0, "", {0, 0, 0, 0, -1, 17, 1}},
    {ours, "apply F --click-delay off --exit-fix off --conference-original", 0, "",
     {.delay = -1, .exit = -1, .counts = -1, .promoted = -1}},
    {ours, "apply F --relegated 7 --start-year 2004 --wc06", 0, "", {2004, 1, 0, 0, 0, 27, 2}},
    {odd, "apply F --bosman-year 2010", 0, "", {.bosman = 2010}},
    {placed, "apply F --click-delay 3 --promoted 5 --start-year 2222", 0, "", {2222, 0, 0, 3, 0, 53, 5}},
    {"", "apply F --dry-run --backup --start-year 2010", 0, "year 2001 -> year 2010|Dry run"},
    // The game's conference code is not ours holding 1 and 3.
    {"", "apply F --promoted=1 --relegated=3", 0, "game's code -> promoted 1, relegated 3\n|!(no change)",
     {.counts = 13, .promoted = 1}},
    {nullptr, "apply F --conference-original --dry-run", 0, "promoted 1, relegated 3 -> game's code\n"},
    {ours, "apply F --json --conference-original", 0,
     "\"old\": \"promoted 2, relegated 6\", \"new\": \"game's code\", \"change\": 1}|!Checked|"
     "\"written\": {\"conf_counts\": 1, \"conf_promoted\": 1}, \"backup_made\": 0, \"result\": \"done\"",
     {.counts = -1, .promoted = -1}},
    {"", "apply --json=1 F", 1, "--json takes no value"},
    {"", "--version", 0, "zandor-patcher-cli 1.0.0\n"},
    {"", "-h", 0, "usage:|--version|--start-year=2010|4 standard output"},
    {"", "apply F --backup --exit-fix on", 0, "Backup written", {.exit = 1}},
    {nullptr, "apply F --backup --exit-fix off --json", 3,
     "backup file already exists|\"backup_made\": 0, \"result\": \"backup_exists\"|\"exit_status\": 3}\n"},
    {nullptr, "apply F --backup --exit-fix off --dry-run", 3, "backup file already exists"},

    // A requested site that is absent or cannot take the change: exit 2.
    {ours, "apply F --start-year 2001 --wc06", 2, "World Cup 06 fix"},
    {odd, "apply F --json --start-year 2010 --bosman-year 2010", 2, "start year|\"site\": \"start_year\""},
    {odd, "apply F --click-delay off --backup", 2, "click"}, {odd, "apply F --exit-fix on", 2, "exit fix"},
    {odd, "apply F --conference-original", 2, "conference counts"},
    {odd2, "apply F --start-year 2010 --wc06", 2, "Cup"}, {odd2, "apply F --bosman-year 2010", 2, "Bosman"},

    // Bad usage or values: exit 1.
    {"", "", 1, "no command"},                    {"", "frob F", 1, "unknown command 'frob'"},
    {"", "scan", 1, "scan needs a FILE"},         {"", "apply F", 1, "no change requested"},
    {"", "apply F --dry-run --turbo", 1, "'--turbo'"}, {"", "scan F --exit-fix on", 1, "'--exit-fix'"},
    {"", "apply F F --exit-fix on", 1, "one FILE"}, {"", "apply F --start-year", 1, "--start-year needs a"},
    {"", "apply F --wc06 --wc06", 1, "more than once"}, {"", "apply F --start-year 20x5", 1, "year must"},
    {"", "apply F --start-year 1999", 1, "year must"},   {"", "apply F --start-year 30000", 1, "year must"},
    {"", "apply F --bosman-year 30000", 1, "bosman-year must"}, {"", "apply F --wc06", 1, "needs --start"},
    {"", "apply F --promoted 0", 1, "--promoted must"},  {"", "apply F --promoted 8", 1, "--promoted must"},
    {"", "apply F --relegated -1", 1, "relegated must"}, {"", "apply F --relegated 8", 1, "relegated must"},
    {"", "apply F --click-delay 7", 1, "delay must"},    {"", "apply F --click-delay 0", 1, "delay must"},
    {"", "apply F --promoted 2 --conference-original", 1, "cannot be combined"},
    {"", "apply M --exit-fix yes", 1, "--exit-fix must"}, {"", "--help", 0, "usage:"},

    // Files that cannot be used: exit 3, nothing written or made.
    {"", "scan M", 3, "cannot be opened for reading|not there"}, {"", "apply M --exit-fix on", 3, "opened for reading"},
    {"", "scan D", 3, "cannot be opened for reading|not a regular file"}, {"", "apply E --exit-fix on --backup", 3, "empty"},
    {"", "apply F --exit-fix on --backup", 3, "cannot be opened for writing|Access denied", {}, 0444},
    {"", "apply F --exit-fix on --dry-run", 3, "cannot be opened for writing|Access denied", {}, 0444},
    {nullptr, "scan F", 0, "year 2001", {}, 0444},
    {nullptr, "scan --json F", 3, "cannot be opened for reading|Access denied", {}, 0},
};

TEST(zandor_patcher_cli, runs_each_case_as_documented)
{
    const std::string dir = scratch_path("dir"), F = dir + "/ZANDOR.EXE", M = dir + "/M", E = dir + "/E";
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(std::filesystem::create_directory(dir) && write_file(E, {}));
    for (const cli_case &c : cases) {
        SCOPED_TRACE(std::string(c.image != nullptr ? c.image : "(as left)") + ": " + c.args);
        std::vector<std::string> make = {F, "--size", "262144"};
        std::istringstream sites(c.image != nullptr ? c.image : "");
        for (std::string s; sites >> s;)
            make.insert(make.end(), {"--site", s});
        if (c.image != nullptr) {
            std::filesystem::remove(F + ".bak");
            ASSERT_EQ(run_program(MAKE_SAMPLE_PATH, make).exit_code, 0);
        }
        const bytes before = read_file(F), bak = read_file(F + ".bak");
        patch_target *t = nullptr;
        ASSERT_EQ(scan_file(F.c_str(), &t), RESULT_OK);
        std::vector<std::string> argv;
        std::istringstream words(c.args);
        for (std::string w; words >> w;)
            argv.push_back(w == "F" ? F : w == "M" ? M : w == "D" ? dir : w == "E" ? E : w);
        chmod(F.c_str(), c.mode);
        const run_result r = run_program(CLI_PATH, argv, 60, c.mode != 0644 && getuid() == 0 ? 65534 : -1);
        chmod(F.c_str(), 0644);
        EXPECT_EQ(r.exit_code, c.exit) << r.out << r.err;
        const bool json = std::strstr(c.args, "--json") != nullptr;
        const std::string seen = c.exit != 0 && !json ? r.err : r.out + r.err;
        // A script may take anything on standard error for a failure.
        EXPECT_TRUE(c.exit != 0 || r.err.empty() || std::strstr(c.args, "--verbose") != nullptr) << r.err;
        // Every refusal comes before the plan is printed.
        EXPECT_TRUE(c.exit < 2 || json || argv[0] != "apply" || r.out.empty()) << r.out;
        std::istringstream says(c.says);
        for (std::string p; std::getline(says, p, '|');)
            EXPECT_EQ(seen.find(p.substr(p[0] == '!')) == seen.npos, p[0] == '!') << p << " in:\n" << seen;
        EXPECT_TRUE(read_file(F) == expected_file(before, t, c.w));
        const std::string a = c.args;
        const bool backup = c.exit == 0 && a.find("--backup") != a.npos && a.find("--dry-run") == a.npos;
        EXPECT_TRUE(read_file(F + ".bak") == (backup ? before : bak));
        EXPECT_FALSE(std::filesystem::exists(M));
        close_target(t);
    }
    std::filesystem::remove_all(dir);
}

// Every refusal comes before the plan is printed and before anything is made,
// and a dry run meets the same ones as the real run.
TEST(zandor_patcher_cli, a_dry_run_refuses_what_the_real_run_refuses)
{
    enum obstacle { SIG_COPY, COPY_ON_THE_WAY, LONG_NAME, FOLDER_AS_BACKUP, READ_ONLY_FOLDER, LOCKED };
    const struct { obstacle what; const char *args; int exit; const char *says; } cases[] = {
        // 27200 is 40 6a: with ff 33 db 68 after it, "6a ff 33 db 68" again.
        {SIG_COPY, "--start-year 27200", 2, "would form or break a copy of a signature"},
        // The game's promoted block, on the way from 5 to 3, ends in 00 00 before 89 8c 24 b0 00 00 00.
        {COPY_ON_THE_WAY, "--promoted 3", 2, "a step on the way to it, would form or break a copy of a signature"},
        {LONG_NAME, "--exit-fix on --backup", 3, "made; nothing was written\n|backup copy's name would be too long"},
        {FOLDER_AS_BACKUP, "--exit-fix on --backup", 3, "made; nothing was written\n|A folder or a device has"},
        {READ_ONLY_FOLDER, "--exit-fix on --backup", 3, "made; nothing was written\n|The folder cannot be written"},
        // Another copy of the patcher, between its check and its last write.
        {LOCKED, "--exit-fix on", 3, "cannot be opened for writing|Another program is using the file"},
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
            ASSERT_TRUE(write_file(F, b) && (c.what != FOLDER_AS_BACKUP || mkdir((F + ".bak").c_str(), 0755) == 0)
                        && (c.what != LOCKED || flock(held, LOCK_EX) == 0) && chmod(F.c_str(), 0666) == 0
                        && chmod(dir.c_str(), c.what == READ_ONLY_FOLDER ? 0555 : 0755) == 0);
            std::vector<std::string> argv = {"apply", F};
            std::istringstream words(c.args + (" " + dry));
            for (std::string w; words >> w;)
                argv.push_back(w);
            const run_result r = run_program(CLI_PATH, argv, 60, c.what == READ_ONLY_FOLDER && getuid() == 0 ? 65534 : -1);
            chmod(dir.c_str(), 0755);
            close(held);
            EXPECT_EQ(r.exit_code, c.exit) << r.err;
            EXPECT_EQ(r.out, "");
            std::istringstream says(c.says);
            for (std::string p; std::getline(says, p, '|');)
                EXPECT_NE(r.err.find(p), r.err.npos) << p << " in:\n" << r.err;
            EXPECT_TRUE(read_file(F) == b && !std::filesystem::is_regular_file(F + ".bak")
                        && access((F + ".bak.partial").c_str(), F_OK) != 0);
        }
    std::filesystem::remove_all(dir);
}

// A reader that went away neither kills the tool nor leaves the player
// guessing: exit 4, and whether the file was written.
TEST(zandor_patcher_cli, a_closed_pipe_is_told_not_fatal)
{
    const std::string F = scratch_path("pipe"), fifo = scratch_path("fifo");
    const char *const runs[] = {
        // A pipe whose reader is gone before the tool starts.
        "mkfifo \"$2\" && exec 3<>\"$2\" 4>\"$2\" 3<&- && rm \"$2\" && \"$0\" apply \"$1\" --start-year 2010 >&4",
        // One that goes after the first byte: the tool may have said all by then.
        "\"$0\" apply \"$1\" --start-year 2010 | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}",
    };
    for (const char *shell : runs) {
        ASSERT_EQ(run_program(MAKE_SAMPLE_PATH, {F, "--size", "70000"}).exit_code, 0);
        const bytes before = read_file(F);
        const run_result r = run_program("/bin/bash", {"-c", shell, CLI_PATH, F, fifo});
        const bool written = r.err.find("the file was written and reads back as requested") != r.err.npos;
        EXPECT_TRUE((r.exit_code == 4 && (written || r.err.find("nothing was written") != r.err.npos))
                    || (r.exit_code == 0 && shell != runs[0])) << shell << r.err;
        EXPECT_EQ(read_file(F) != before, r.exit_code == 0 || written) << shell;
    }
}

} // namespace
