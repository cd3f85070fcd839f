// Reads, seeks, writes, flushes and closes that fail part-way, and files that
// change between the scan and the write, through the fault runner (the
// writer's result) and the CLI (its exit status). Whatever happens the file
// is left as it was or with whole sites written, and success is never
// reported for a write that did not happen.

#include <cstring>
#include <fstream>

#include "fault_support.h"
#include "patch/apply_patches.h"
#include "tools/sample_image.h"

namespace {

struct fault_case {
    const char *op;
    const char *mode;
    long at;
};

std::string describe(const fault_case &c)
{
    return std::string(c.op) + " #" + std::to_string(c.at) + " " + c.mode;
}

// Every call of every op, failing once, from there on, and (reads and writes)
// moving half of the bytes first.
bool has(const std::vector<site_range> &sites, const char *name)
{
    for (const site_range &s : sites)
        if (s.name == name)
            return true;
    return false;
}

// The sites a run writes: those it found, but the World Cup 06 fix only
// along with the start year, and the conference blocks only as a pair.
std::vector<site_range> written_sites(std::vector<site_range> found)
{
    if (!has(found, "start_year"))
        std::erase_if(found, [](const site_range &s) { return s.name == "wc06_fix"; });
    if (!has(found, "conf_counts") || !has(found, "conf_promoted"))
        std::erase_if(found, [](const site_range &s) { return s.name.rfind("conf_", 0) == 0; });
    return found;
}

std::vector<fault_case> every_fault(const op_counts &n)
{
    struct op_total {
        const char *op;
        long calls;
        bool partial;
    };
    const op_total ops[] = {{"fread", n.fread_calls, true},   {"fwrite", n.fwrite_calls, true},
                            {"fseek", n.fseek_calls, false},  {"fflush", n.fflush_calls, false},
                            {"fclose", n.fclose_calls, false}};
    std::vector<fault_case> cases;
    for (const op_total &o : ops) {
        EXPECT_GT(o.calls, 0) << o.op << " never called on the file: the injector sees nothing";
        for (long at = 1; at <= o.calls; ++at) {
            cases.push_back({o.op, "once", at});
            cases.push_back({o.op, "always", at});
            if (o.partial)
                cases.push_back({o.op, "short", at});
        }
    }
    return cases;
}

std::vector<std::string> fault_env(const std::string &file, const fault_case &c, const std::string &log)
{
    return {"ZANDOR_FAULT_PATH=" + file, std::string("ZANDOR_FAULT_OP=") + c.op,
            "ZANDOR_FAULT_AT=" + std::to_string(c.at), std::string("ZANDOR_FAULT_MODE=") + c.mode,
            "ZANDOR_FAULT_LOG=" + log};
}

// How often the fault fired, from the injector's log.
long fired(const std::string &log, const char *op)
{
    std::ifstream in(log);
    std::string name;
    long calls = 0, count = 0;
    while (in >> name >> calls >> count)
        if (name == op)
            return count;
    return -1;
}

struct clean_run {
    bytes before;
    bytes after;
    std::vector<site_range> sites;
};

clean_run clean(const std::string &program, const std::vector<std::string> &args, const std::string &file)
{
    clean_run c{game_image(), {}, {}};
    EXPECT_TRUE(write_file(file, c.before));
    run_result r = run_injected(runner_path(), {"scan", file}, {});
    c.sites = reported_sites(r.out);
    EXPECT_EQ(c.sites.size(), static_cast<std::size_t>(SITE_COUNT)) << r.out;
    r = run_injected(program, args, {});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    c.after = read_file(file);
    EXPECT_NE(c.after, c.before);
    return c;
}

TEST(injected_faults, the_writer_never_leaves_a_site_half_written_nor_claims_a_failed_write)
{
    std::string dir = AT_CALLER(scratch_dir());
    std::string file = dir + "/GAME.EXE", log = dir + "/ops";
    const std::vector<std::string> args{"apply", file};
    clean_run base = AT_CALLER(clean(runner_path(), args, file));
    op_counts n = AT_CALLER(count_ops(runner_path(), args, file, base.before));

    for (const fault_case &c : AT_CALLER(every_fault(n))) {
        SCOPED_TRACE(describe(c));
        ASSERT_TRUE(write_file(file, base.before));
        run_result r = run_injected(runner_path(), args, fault_env(file, c, log));
        ASSERT_FALSE(r.crashed || r.timed_out) << r.err;
        ASSERT_GE(fired(log, c.op), 1) << "the fault did not fire";
        bytes got = read_file(file);
        EXPECT_EQ(mixed_difference(got, base.before, base.after, base.sites), "");

        int result = reported_result(r.out);
        std::vector<site_range> found = written_sites(reported_sites(r.out));
        switch (result) {
        case RESULT_OK:
            EXPECT_NE(std::string(c.op), "fwrite") << "success reported for a failed write";
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_TRUE(got == with_sites(base.before, base.after, found)) << "not every site found was written";
            break;
        case RESULT_WRITE_FAILED:
            EXPECT_EQ(r.exit_code, 3);
            if (std::strcmp(c.mode, "always") != 0) {
                EXPECT_TRUE(got == base.before || got == with_sites(base.before, base.after, found))
                    << "a single failure left the file neither as it was nor fully written";
            }
            break;
        case RESULT_WRITE_UNDONE:
        case RESULT_FILE_CHANGED:
        case RESULT_WRITE_OPEN_FAILED:
            EXPECT_EQ(r.exit_code, 3);
            EXPECT_TRUE(got == base.before) << "the file changed although the writer said it did not";
            break;
        default:
            ADD_FAILURE() << "unexpected result " << result << "\n" << r.out << r.err;
        }
    }
}

TEST(injected_faults, the_cli_exits_with_a_failure_and_leaves_the_file_whole)
{
    if (cli_path().empty())
        GTEST_SKIP() << "the CLI is not part of this build";
    std::string dir = AT_CALLER(scratch_dir());
    std::string file = dir + "/GAME.EXE", log = dir + "/ops";
    const std::vector<std::string> args = cli_apply_args(file);
    clean_run base = AT_CALLER(clean(cli_path(), args, file));
    op_counts n = AT_CALLER(count_ops(cli_path(), args, file, base.before));

    for (const fault_case &c : AT_CALLER(every_fault(n))) {
        SCOPED_TRACE(describe(c));
        ASSERT_TRUE(write_file(file, base.before));
        run_result r = run_injected(cli_path(), args, fault_env(file, c, log));
        ASSERT_FALSE(r.crashed || r.timed_out) << r.err;
        ASSERT_GE(fired(log, c.op), 1) << "the fault did not fire";
        bytes got = read_file(file);
        EXPECT_EQ(mixed_difference(got, base.before, base.after, base.sites), "");
        switch (r.exit_code) {
        case 0:
            EXPECT_NE(std::string(c.op), "fwrite") << "success reported for a failed write";
            EXPECT_TRUE(got == base.after) << "success, but not everything was written";
            break;
        case 2:
            EXPECT_TRUE(got == base.before) << "a site was called absent, but something was written";
            break;
        case 3:
            EXPECT_FALSE(r.err.empty()) << "a failure without a word";
            if (std::strcmp(c.mode, "always") != 0) {
                EXPECT_TRUE(got == base.before || got == base.after)
                    << "a single failure left the file neither as it was nor fully written";
            }
            break;
        default:
            ADD_FAILURE() << "exit status " << r.exit_code << "\n" << r.err;
        }
    }
}

// What someone else does to the file between the scan and the write.
struct change_case {
    const char *what;
    std::string change;   // ZANDOR_FAULT_CHANGE
    bool refused;         // the writer must write nothing
};

bytes changed_image(const bytes &before, const std::string &change, const bytes &replacement)
{
    bytes b = before;
    if (change == "truncate")
        b.pop_back();
    else if (change == "grow")
        b.push_back(0);
    else if (change.rfind("replace:", 0) == 0)
        b = replacement;
    else if (change.rfind("poke:", 0) == 0) {
        std::size_t colon = change.find(':', 5);
        b[std::stoul(change.substr(5, colon - 5))] = static_cast<uint8_t>(std::stoul(change.substr(colon + 1), nullptr, 16));
    }
    return b;
}

int64_t site_ofs(const std::vector<site_range> &sites, const char *name)
{
    for (const site_range &s : sites)
        if (s.name == name)
            return s.ofs;
    ADD_FAILURE() << name << " not found";
    return 0;
}

TEST(injected_faults, a_file_changed_between_scan_and_write_is_not_written)
{
    std::string dir = AT_CALLER(scratch_dir());
    std::string file = dir + "/GAME.EXE", other = dir + "/OTHER.EXE";
    clean_run base = AT_CALLER(clean(runner_path(), {"apply", file}, file));
    const int64_t year = AT_CALLER(site_ofs(base.sites, "start_year"));
    const int64_t exit_fix = AT_CALLER(site_ofs(base.sites, "exitgame"));
    // The same length, but every site one byte further on.
    bytes shifted = base.before;
    shifted.insert(shifted.begin(), 0x00);
    shifted.pop_back();

    const change_case cases[] = {
        {"truncated by a byte", "truncate", true},
        {"grown by a byte", "grow", true},
        {"deleted", "delete", true},
        {"replaced by a file of the same length with the sites elsewhere", "replace:" + other, true},
        {"a signature byte changed", "poke:" + std::to_string(exit_fix - 3) + ":00", true},
        {"a block no longer recognised", "poke:" + std::to_string(exit_fix) + ":00", true},
        // The guard looks at what makes a site, not at the value it holds or
        // at the rest of the file: these are written over.
        {"the start year changed", "poke:" + std::to_string(year) + ":de", false},
        {"a byte outside every site changed", "poke:10:5a", false},
    };
    for (const bool through_cli : {false, true}) {
        if (through_cli && cli_path().empty())
            continue;
        for (const change_case &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (through_cli ? " (CLI)" : " (runner)"));
            ASSERT_TRUE(write_file(file, base.before));
            ASSERT_TRUE(write_file(other, shifted));
            // The CLI opens the file for update once to see that it can, then to write.
            std::vector<std::string> env{"ZANDOR_FAULT_PATH=" + file, "ZANDOR_FAULT_CHANGE=" + c.change,
                                         std::string("ZANDOR_FAULT_CHANGE_AT=") + (through_cli ? "2" : "1")};
            run_result r = through_cli ? run_injected(cli_path(), cli_apply_args(file), env)
                                       : run_injected(runner_path(), {"apply", file}, env);
            ASSERT_FALSE(r.crashed || r.timed_out) << r.err;
            bytes changed = changed_image(base.before, c.change, shifted);
            if (c.change == "delete") {
                EXPECT_EQ(r.exit_code, 3);
                EXPECT_FALSE(std::ifstream(file).good()) << "a deleted file came back";
                if (!through_cli) {
                    EXPECT_EQ(reported_result(r.out), RESULT_WRITE_OPEN_FAILED);
                }
                continue;
            }
            if (c.refused) {
                EXPECT_EQ(r.exit_code, 3) << r.out << r.err;
                if (!through_cli) {
                    EXPECT_EQ(reported_result(r.out), RESULT_FILE_CHANGED);
                }
                EXPECT_TRUE(read_file(file) == changed) << "the changed file was written to";
            } else {
                EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
                EXPECT_TRUE(read_file(file) == with_sites(changed, base.after, base.sites));
            }
        }
    }
}

// A read error in the middle of the second search must not pass for "no
// second copy": a signature present twice stays absent, whichever read fails.
TEST(injected_faults, a_search_cut_short_by_a_read_error_proves_no_site)
{
    std::string dir = AT_CALLER(scratch_dir());
    std::string file = dir + "/GAME.EXE", log = dir + "/ops";
    sample_recipe recipe;
    sample_defaults(&recipe, 3 * int64_t{65536});
    recipe.site[SITE_START_YEAR].state = SAMPLE_DUPLICATED;
    recipe.site[SITE_START_YEAR].at = 1000;
    recipe.site[SITE_START_YEAR].at2 = 2 * int64_t{65536} + 1000;
    ASSERT_EQ(sample_write(file.c_str(), &recipe), 0);
    const std::vector<std::string> args{"scan", file};
    op_counts n = AT_CALLER(count_ops(runner_path(), args, file, read_file(file)));
    for (const char *mode : {"once", "always"}) {
        for (long at = 1; at <= n.fread_calls; ++at) {
            SCOPED_TRACE(std::string("fread #") + std::to_string(at) + " " + mode);
            run_result r = run_injected(runner_path(), args, fault_env(file, {"fread", mode, at}, log));
            ASSERT_EQ(r.exit_code, 0) << r.err;
            for (const site_range &s : reported_sites(r.out))
                EXPECT_NE(s.name, "start_year") << "taken as unique after an incomplete search";
        }
    }
}

} // namespace
