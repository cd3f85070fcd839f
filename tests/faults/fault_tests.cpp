// The patcher under failing calls (stdio, fstat, rename) and kills between
// writes, through the command-line tool, which writes by the same path as
// the options dialog. Whatever happens, every site is whole or untouched,
// nothing else changes, the length stays, and success means written. (A file
// changed between the scan and the write is the apply fuzz harness's
// business, and the main-flow test's.)

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "file_bytes.h"
#include "run_program.h"
#include "patch/catalogue.h"
#include "sample_sites.h"

namespace {

struct site_range {
    int64_t ofs, len;
    std::string name;
};

// A fresh folder for the running test, in the build tree.
std::string scratch_dir()
{
    std::string dir = std::string(FAULT_SCRATCH_ROOT) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    return dir;
}

// Every site in the game's state, over two windows, written to `file`; with
// `twice` the start year also 128 KiB on, so that only a whole second search
// tells that it is no site.
bytes game_image(const std::string &file, bool twice)
{
    const site_is start = {.site = SITE_START_YEAR, .state = SAMPLE_DUPLICATED, .at = 1000, .at2 = 2 * 65536 + 1000};
    EXPECT_GT(sample_file(file.c_str(), twice ? std::vector{start} : std::vector<site_is>{}, 2 * 65536 + 5000).size, 0);
    return read_file(file);
}

const std::vector<std::string> EVERYTHING = {"--start-year", "2010", "--wc06", "--bosman-year", "2011", "--click-delay",
                                             "3", "--exit-fix", "on", "--promoted", "4", "--relegated", "2"};

// The CLI applying `args` to `file`, with the injector loaded and `env` set.
// Both front ends write through the same path; the options dialog's own part
// is the main-flow tests' business.
run_result run(const std::string &file, std::vector<std::string> env = {},
               const std::vector<std::string> &args = EVERYTHING, const char *command = "apply")
{
    env.push_back(std::string("LD_PRELOAD=") + FAULT_INJECTOR);
    // The sanitizer runtime wants to be first; the injector only passes calls on.
    const char *asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=verify_asan_link_order=0") + (asan ? std::string(":") + asan : ""));
    std::vector<std::string> argv = {command, file};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(FAULT_CLI, argv, 20, -1, env);
}

// The fault settings of the injector: the op's call `at` on `file` fails in `mode` (then the kill after
// the `then_kill`-th write, if any).
std::vector<std::string> fault(const std::string &file, const std::string &op, long at = 1,
                               const std::string &mode = "once", const std::string &fired = "", int then_kill = 0)
{
    return {"ZANDOR_FAULT_PATH=" + file, "ZANDOR_FAULT_OP=" + op, "ZANDOR_FAULT_AT=" + std::to_string(at),
            "ZANDOR_FAULT_MODE=" + mode, "ZANDOR_FAULT_FIRED=" + fired, "ZANDOR_FAULT_THEN_KILL=" + std::to_string(then_kill)};
}

// Whether a scan finds every site of `file` where it is.
bool scans_whole(const std::string &file)
{
    return !has(run_program(FAULT_CLI, {"scan", "--json", file}, 20).out, "ofs\": -1");
}

// The sites a run's plan names: "  NAME at 0x... (OFS): ...".
std::vector<site_range> planned_sites(const run_result &r)
{
    std::vector<site_range> sites;
    std::istringstream out(r.out);
    for (std::string name, at, hex, ofs; out >> name;)
        for (const site_entry &e : patch_catalogue)
            if (name == e.name && out >> at >> hex >> ofs)
                sites.push_back({std::stoll(ofs.substr(1)), e.block_len, e.name});
    return sites;
}

// `b` with the ranges of `sites` taken from `from`.
bytes with_sites(bytes b, const bytes &from, const std::vector<site_range> &sites)
{
    for (const site_range &s : sites)
        std::copy_n(from.begin() + s.ofs, s.len, b.begin() + s.ofs);
    return b;
}

// The one check after a run that may have failed anywhere: no crash, the
// length kept, no byte outside `sites` changed; exit 0 only with every site
// written, exit 2 only with none, after a single failure the file as it was
// or fully written, a failure that left the file changed says which sites,
// and whatever it left, a later scan finds every site where it was (also the
// conference pair, unless it says that the two may no longer match, as it
// must when it could not read them back) and the same command, `args`,
// finishes the change.
void expect_sound(const run_result &r, const std::string &file, const bytes &before, const bytes &after,
                  const std::vector<site_range> &sites, bool single_failure, const std::vector<std::string> &args,
                  const char *command, const char *file_name = __builtin_FILE(), int line = __builtin_LINE())
{
    testing::ScopedTrace trace(file_name, line, "checked from here");
    const bytes got = read_file(file), full = with_sites(before, after, sites);
    ASSERT_FALSE(r.crashed || r.timed_out) << r.err;
    ASSERT_EQ(got.size(), before.size()) << "the length changed";
    EXPECT_TRUE(got == with_sites(before, got, sites)) << "a byte outside every site changed";
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 2 || r.exit_code == 3) << "exit status " << r.exit_code;
    EXPECT_TRUE(r.exit_code != 0 || got == full) << "success, but not every site is written";
    EXPECT_TRUE(r.exit_code != 2 || got == before) << "nothing written, it says, but something is";
    EXPECT_TRUE(!single_failure || got == before || got == full) << "one failure left some sites written, some not";
    EXPECT_TRUE(!single_failure || got != before || !has(r.err, "not put back")) << "put back, but told not";
    EXPECT_TRUE(r.exit_code != 3 || got == before || has(r.err, "not put back")
                || has(r.err, "could not be read back to check")) << r.err;
    const bool pair_told = has(r.err, "may no longer match");
    EXPECT_TRUE(pair_told || !has(r.err, "count (could not be read back")) << "a pair not read back";
    if (got == before || got == full)
        return;
    const std::string scan = run_program(FAULT_CLI, {"scan", "--json", file}, 20).out;
    EXPECT_TRUE(!has(scan, "ofs\": -1") || (pair_told && has(scan, "pair_mismatch"))) << scan;
    EXPECT_TRUE(run(file, {}, args, command).exit_code == 0 && read_file(file) == full) << "the same command does not finish it";
    ASSERT_TRUE(write_file(file, got));
}

TEST(injected_faults, every_failing_call_leaves_whole_sites_and_success_means_written)
{
    const std::string dir = scratch_dir(), file = dir + "/GAME.EXE", fired = dir + "/fired";
    // The game's image, and one with the start year twice, far apart: no
    // failure may make that a site.
    for (const bool twice : {false, true}) {
        const bytes before = game_image(file, twice);
        // A scan that cannot read fails, and names the first site it could not read.
        const run_result scan = run(file, fault(file, "fread"), {}, "scan");
        EXPECT_TRUE(scan.exit_code == 3 && has(scan.err, "start year: could not be read")) << scan.err;
        const run_result clean = run(file);
        const bytes after = read_file(file);
        ASSERT_EQ(clean.exit_code, twice ? 2 : 0) << clean.err;
        for (const std::string op : {"fread", "fwrite", "fseek", "fflush", "fclose", "fstat"}) {
            for (const std::string mode : {"once", "always", "short"}) {
                // Each call in turn, until the run makes no more of them.
                for (long n = 1; mode != "short" || op == "fread" || op == "fwrite"; ++n) {
                    SCOPED_TRACE(testing::Message() << op << " #" << n << " " << mode << (twice ? ", year twice" : ""));
                    ASSERT_TRUE(write_file(file, before) && (unlink(fired.c_str()) == 0 || errno == ENOENT));
                    std::vector<std::string> args = EVERYTHING;
                    args.resize(args.size() + (mode == "always" ? 1 : 0), "--json");
                    const run_result r = run(file, fault(file, op, n, mode, fired), args);
                    if (access(fired.c_str(), F_OK) != 0) {
                        EXPECT_TRUE(n > 1 || twice) << "the injector never saw the call";  // twice: nothing is written
                        break;
                    }
                    expect_sound(r, file, before, after, planned_sites(clean), mode == "once", EVERYTHING, "apply");
                    // The report names as written every site that holds new bytes.
                    const bytes now = read_file(file);
                    for (const site_range &s : planned_sites(clean))
                        EXPECT_TRUE(mode != "always" || std::equal(now.begin() + s.ofs, now.begin() + s.ofs + s.len, before.begin() + s.ofs)
                                    || has(r.out, "\"" + s.name + "\": 1")) << s.name << r.out;
                    EXPECT_TRUE(!twice || (r.exit_code != 0 && now == before)) << "taken as unique after an incomplete search";
                    // Without the length, or proof that it still reads the same file, a scan is a read error.
                    EXPECT_TRUE(op != "fstat" || (r.exit_code == 3 && !has(r.err, "not a regular"))) << r.err;
                    // A close that fails after every write is on the disk names the written sites, the first too, as new.
                    EXPECT_TRUE(op != "fclose" || !has(r.err, "not put back")
                                || (has(r.err, "click delay (holds the new") && has(r.err, "start year (holds the new")));
                    // A file left as it was (writes that moved nothing, syncs that failed after an undo that
                    // worked) is told so: no site holds new bytes; at most, one could not be read back.
                    EXPECT_TRUE(now != before || !has(r.err, " (holds")) << r.err;
                    // A read error is one of the file, and says so; the first read is the first site's.
                    EXPECT_TRUE(op != "fread" || now != before
                                || has(r.err, n == 1 ? "start year: could not be read" : ": could not be read")) << r.err;
                }
            }
        }
    }
}

// A run cut off anywhere leaves a file whose every site the next scan
// recognises, and the same command finishes the change: killed after any of
// its writes, or by a power cut inside one (only one sector of it landed),
// or killed while it undoes a failed write, or killed again in the run after
// the kill; on the sample's layout and with every block across a sector
// boundary; with --backup, keeping the backup the first run made.
TEST(killed_runs, leave_sites_a_later_run_can_read_and_finish)
{
    const std::string dir = scratch_dir(), file = dir + "/GAME.EXE", fired = dir + "/fired";
    const std::vector<std::string> conf = {"--promoted", "5", "--relegated", "2"};
    // The clang of the static analysis lacks std::source_location: rows carry __LINE__. `patched`: the
    // conference, exit fix and delay ours already; `tail`: the promoted block followed by a World Cup 06
    // signature's tail; `slow`: kills during the undo, and in the run after a kill, too.
    const struct { int line; bool patched; std::vector<std::string> args; bool tail = false, slow = false; } cases[] = {
        {__LINE__, false, conf},                   // installing
        {__LINE__, false, {"--relegated", "7"}},   // the relegated count alone
        {__LINE__, false, {"--promoted", "4"}},    // the promoted count alone
        {__LINE__, true, conf, false, true},       // changing the counts
        {__LINE__, true, {"--promoted", "5"}},     // the promoted count alone
        {__LINE__, true, {"--relegated", "7"}},    // the relegated count alone
        // The game's promoted block would end in 00 00 before the tail: it is never written on the way.
        {__LINE__, true, {"--relegated", "7"}, true},
        {__LINE__, true, {"--conference-original"}},  // removing
        {__LINE__, true, {"--start-year", "2002", "--wc06", "--bosman-year", "2011", "--click-delay", "off",
                          "--exit-fix", "off", "--promoted", "7", "--relegated", "0"}},  // everything at once
    };
    // Bytes of each block (each year) before the sector boundary it is put across.
    const int64_t across_at[SITE_COUNT] = {1, 50, 1, 26, 3, 7, 9};
    for (const auto &c : cases)
        for (const bool across : {false, true}) {
            sample_recipe recipe;
            sample_defaults(&recipe, 70000);
            for (int s = 0; s < SITE_COUNT; ++s) {
                if (c.patched && (s == SITE_CLICK_DELAY || s == SITE_EXITGAME || s >= SITE_CONF_COUNTS))
                    recipe.site[s] = {SAMPLE_PATCHED, -1, -1, 4, 6, 0};
                recipe.site[s].at = across ? 512 * (4 + 16 * s) - patch_catalogue[s].sig_len - across_at[s] : -1;
            }
            ASSERT_TRUE(sample_layout(&recipe, &recipe) == 0 && sample_write(file.c_str(), &recipe) == 0);
            bytes before = read_file(file);
            std::copy_n("\x89\x8c\x24\xb0\x00\x00\x00", c.tail ? 7 : 0, before.begin() + recipe.site[SITE_CONF_PROMOTED].at
                        + patch_catalogue[SITE_CONF_PROMOTED].sig_len + patch_catalogue[SITE_CONF_PROMOTED].block_len);
            ASSERT_TRUE(write_file(file, before) && (unlink((file + ".bak").c_str()) == 0 || errno == ENOENT));
            std::vector<std::string> args = c.args;
            args.push_back("--backup");
            const testing::ScopedTrace row(__FILE__, c.line, across ? "across sectors" : "");
            ASSERT_EQ(run(file, {}, args).exit_code, 0);
            const bytes done = read_file(file);
            // From `from`, a run whose fwrite `at` fails in `mode`, and killed after the `then_kill`-th write
            // after it; false when it was not killed there.
            const auto cut = [&](const bytes &from, long at, const std::string &mode, int then_kill) {
                EXPECT_TRUE(write_file(file, from) && (unlink(fired.c_str()) == 0 || errno == ENOENT));
                const run_result r = run(file, fault(file, "fwrite", at, mode, fired, then_kill), args);
                EXPECT_FALSE(r.timed_out);
                return access(fired.c_str(), F_OK) == 0 && r.crashed;
            };
            const auto finishes = [&] {
                EXPECT_TRUE(scans_whole(file));
                EXPECT_EQ(run(file, {}, args).exit_code, 0);
                EXPECT_TRUE(read_file(file) == done && read_file(file + ".bak") == before);
            };
            for (const std::string mode : {"kill", "tear", "tear2", "undo"}) {
                if (mode != "kill" && (!across || (mode == "undo" && !c.slow)))
                    continue;  // tears only show where writes span sectors
                // "undo": write k fails, and the undo is killed after its j-th write.
                for (int k = 1, j = 1;; mode == "undo" ? ++j : ++k) {
                    SCOPED_TRACE(testing::Message() << mode << " at write " << k << ", " << j);
                    if (!cut(before, k, mode == "undo" ? "once" : mode, mode == "undo" ? j : 0)) {
                        if (mode != "undo" || j == 1)
                            break;
                        std::tie(k, j) = std::pair(k + 1, 0);
                        continue;
                    }
                    const bytes cut_off = read_file(file);
                    finishes();
                    for (int k2 = 1; c.slow && !across && mode == "kill"; ++k2) {
                        SCOPED_TRACE(testing::Message() << "then killed after write " << k2);
                        if (!cut(cut_off, k2, "kill", 0))
                            break;
                        finishes();
                    }
                }
            }
        }
}

// restore failing at any call of any kind is sound as apply is, and exit 0
// means the backup is back, byte for byte; killed after any of its writes,
// it leaves a file whose every site the next scan recognises, and restore
// run again puts the backup back exactly.
TEST(injected_faults, restore_fails_soundly_at_every_call)
{
    const std::string dir = scratch_dir(), file = dir + "/GAME.EXE", fired = dir + "/fired";
    const bytes before = game_image(file, false);
    ASSERT_TRUE(write_file(file + ".bak", before) && run(file).exit_code == 0);
    const bytes patched = read_file(file);
    const std::vector<site_range> sites = planned_sites(run(file, {}, {"--dry-run"}, "restore"));
    for (const std::string op : {"fread", "fwrite", "fseek", "fflush", "fstat", "kill"})
        for (long n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << op << " #" << n);
            ASSERT_TRUE(write_file(file, patched) && (unlink(fired.c_str()) == 0 || errno == ENOENT));
            const bool kill = op == "kill";
            const run_result r = run(file, fault(file, kill ? "fwrite" : op, n, kill ? "kill" : "once", fired), {}, "restore");
            if (access(fired.c_str(), F_OK) != 0)
                break;
            if (!kill)
                expect_sound(r, file, patched, before, sites, true, {}, "restore");
            EXPECT_TRUE(!kill || (r.crashed && scans_whole(file)
                                  && run(file, {}, {}, "restore").exit_code == 0 && read_file(file) == before)) << r.err;
            EXPECT_TRUE(read_file(file + ".bak") == before);
        }
}

// A backup cut short leaves nothing written, and FILE.bak whole or not at
// all; only a kill leaves the partial copy, which the next run removes. That
// run, the same command, makes or keeps the backup and finishes the change.
TEST(killed_runs, leave_no_partial_backup)
{
    const std::string dir = scratch_dir(), file = dir + "/GAME.EXE", partial = file + ".bak.partial";
    const std::vector<std::string> args = {"--exit-fix", "on", "--backup", "--json"};
    enum cut_by { INJECTED, KILLED, SIZE_LIMIT, LEFT_LINKED };
    // `named`: FILE.bak whole after the cut.
    const struct { int line; cut_by how; std::vector<std::string> env; bool named = false; } cases[] = {
        {__LINE__, KILLED, fault(partial, "fwrite", 1, "kill")},
        {__LINE__, INJECTED, fault(partial, "fwrite")},  // a write of the copy
        {__LINE__, SIZE_LIMIT, {}},
        // The folder not synced once the copy is named.
        {__LINE__, INJECTED, fault(dir, "fsync"), true},
        // Named by a second link, cut before the copy's name went.
        {__LINE__, LEFT_LINKED, {}, true},
    };
    for (const auto &c : cases) {
        const testing::ScopedTrace row(__FILE__, c.line, "");
        const bytes before = game_image(file, false);
        ASSERT_TRUE((unlink((file + ".bak").c_str()) == 0 || errno == ENOENT)
                    && (unlink(partial.c_str()) == 0 || errno == ENOENT));
        const run_result cut =
            c.how == SIZE_LIMIT ? run_program("/bin/bash", {"-c", "ulimit -f 8 && exec \"$@\"", "-", FAULT_CLI, "apply",
                                                            file, "--exit-fix", "on", "--backup"})
            : c.how == LEFT_LINKED ? run_result{}
                                   : run(file, c.env, args);
        ASSERT_TRUE(c.how != LEFT_LINKED || (write_file(partial, before) && link(partial.c_str(), (file + ".bak").c_str()) == 0));
        EXPECT_TRUE(c.how == KILLED ? cut.crashed : c.how == LEFT_LINKED || cut.exit_code == 3) << cut.err;
        EXPECT_TRUE(read_file(file) == before);
        EXPECT_TRUE(c.named ? read_file(file + ".bak") == before : access((file + ".bak").c_str(), F_OK) != 0);
        // What is on the disk is said: a named backup is one, though the run stopped there.
        EXPECT_EQ(has(cut.out, "\"backup_made\": 1"), c.named && c.how != LEFT_LINKED) << cut.out;
        EXPECT_TRUE(c.how == KILLED || c.how == LEFT_LINKED || access(partial.c_str(), F_OK) != 0);
        const run_result again = run(file, {}, args);
        EXPECT_EQ(again.exit_code, 0) << again.err;
        EXPECT_TRUE(read_file(file + ".bak") == before && access(partial.c_str(), F_OK) != 0);
    }
}

// Standard output that fails once the file is written: exit 4, and the
// player is told that the file was written.
TEST(standard_output, failing_after_the_write_says_the_file_was_written)
{
    const std::string file = scratch_dir() + "/GAME.EXE";
    const bytes before = game_image(file, false);
    const run_result r = run(file, fault("/proc/self/fd/1", "fflush", 2, "always"), {"--exit-fix", "on"});
    EXPECT_TRUE(r.exit_code == 4
                && has(r.err, "cannot write to standard output; the file was written and reads back as requested")
                && read_file(file) != before) << r.err;
}

// Where the file system cannot rename without replacing, the backup takes
// its name by a link, and the partial copy's name goes.
TEST(backups, are_named_where_a_rename_cannot_refuse_to_replace)
{
    const std::string dir = scratch_dir(), file = dir + "/GAME.EXE";
    const bytes before = game_image(file, false);
    EXPECT_EQ(run(file, fault(file + ".bak", "renameat2"), {"--exit-fix", "on", "--backup"}).exit_code, 0);
    EXPECT_TRUE(read_file(file + ".bak") == before && access((file + ".bak.partial").c_str(), F_OK) != 0);
}

// Another user re-points a folder of the game's path at any step after the
// scan (the first open is the scan's: before it, the player picks whatever
// the path names). The run acts on the file it scanned and on files it made,
// in that file's folder, and on nothing in the other one.
TEST(backups, stay_with_the_scanned_file_when_its_folder_is_re_pointed)
{
    const std::string dir = scratch_dir(), game = dir + "/game", other = dir + "/other", link = dir + "/link",
                      file = link + "/GAME.EXE", fired = dir + "/fired";
    const std::vector<std::string> args = {"--exit-fix", "on", "--backup"};
    bytes before, done;
    const auto lay_out = [&] {
        std::filesystem::remove_all(game);
        std::filesystem::remove_all(other);
        std::filesystem::remove(link);
        ASSERT_TRUE(std::filesystem::create_directory(game) && std::filesystem::create_directory(other)
                    && symlink("game", link.c_str()) == 0);
        before = game_image(game + "/GAME.EXE", false);
        bytes secret = before;
        secret[1] ^= 1;
        ASSERT_TRUE(write_file(other + "/GAME.EXE", secret) && write_file(other + "/GAME.EXE.bak.partial", {1, 2, 3}));
    };
    lay_out();
    ASSERT_EQ(run(file, {}, args).exit_code, 0);
    done = read_file(game + "/GAME.EXE");
    for (int n = 2;; ++n) {
        SCOPED_TRACE(testing::Message() << "re-pointed before open " << n);
        lay_out();
        const auto others = folder_snapshot(other);
        ASSERT_TRUE(unlink(fired.c_str()) == 0 || errno == ENOENT);
        const run_result r = run(file, {"ZANDOR_FAULT_OP=relink", "ZANDOR_FAULT_AT=" + std::to_string(n),
                                        "ZANDOR_FAULT_LINK=" + link, "ZANDOR_FAULT_TARGET=other", "ZANDOR_FAULT_FIRED=" + fired},
                                 args);
        if (access(fired.c_str(), F_OK) != 0)
            break;
        EXPECT_TRUE(folder_snapshot(other) == others) << "a file made, changed or removed in the other folder\n" << r.err;
        const auto mine = folder_snapshot(game);
        const std::string was(before.begin(), before.end()), now(done.begin(), done.end());
        // The game as it was, or written and said so (the read-back may find its name re-pointed).
        const std::string &got = mine.at("GAME.EXE");
        EXPECT_TRUE(mine.size() <= 2 && (!mine.contains("GAME.EXE.bak") || mine.at("GAME.EXE.bak") == was)) << r.err;
        EXPECT_TRUE(r.exit_code == 0 ? got == now : got == was || (got == now && has(r.err, "was written"))) << r.err;
    }
}

// Each write is on the disk before the next one starts, and the backup's name
// is on the disk before the game is written: a power cut stops the run
// between two writes, as a kill does.
TEST(killed_runs, each_write_reaches_the_disk_before_the_next)
{
    const std::string dir = scratch_dir(), file = dir + "/GAME.EXE", trace = dir + "/trace";
    game_image(file, false);
    const run_result r = run_program("/usr/bin/strace", {"-f", "-y", "-o", trace, "-e", "trace=write,fsync,renameat2,link",
                                                         FAULT_CLI, "apply", file, "--promoted", "5", "--backup"},
                                       60, -1, {"ASAN_OPTIONS=detect_leaks=0"});  // LeakSanitizer cannot run under ptrace
    // n the backup named, d its folder synced, w a write to the game, s its sync.
    std::string calls;
    std::ifstream log(trace);
    for (std::string line; std::getline(log, line);) {
        const bool game = has(line, "<" + file + ">"), folder = has(line, "<" + dir + ">");
        calls += has(line, "renameat2(") ? "n" : has(line, "fsync(") ? (game ? "s" : folder ? "d" : "")
                 : game && has(line, "write(") ? "w" : "";
    }
    EXPECT_EQ(calls, "ndwswswswswsws") << r.err;
}

} // namespace
