// Bad arguments and files that cannot be used: one clear line on standard
// error, the documented exit status, no crash and no change to the file.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "cli_fixture.h"

namespace {

constexpr int NOBODY = 65534;

int line_count(const std::string &s)
{
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

TEST_F(cli_test, bad_usage_exits_1_and_names_the_problem)
{
    const struct {
        std::vector<std::string> args;  // "FILE" stands for the sample image
        const char *named;              // in the error line
    } cases[] = {
        {{}, "no command"},
        {{"frobnicate", "FILE"}, "frobnicate"},
        {{"scan"}, "FILE"},
        {{"apply", "FILE"}, "no change requested"},
        {{"apply", "FILE", "--dry-run", "--backup"}, "no change requested"},
        {{"apply", "FILE", "--turbo"}, "--turbo"},
        {{"scan", "FILE", "--exit-fix", "on"}, "--exit-fix"},
        {{"apply", "FILE", "--json", "--exit-fix", "on"}, "--json"},
        {{"apply", "--exit-fix", "on"}, "FILE"},
        {{"apply", "FILE", "OTHER", "--exit-fix", "on"}, "OTHER"},
        {{"apply", "FILE", "--start-year"}, "--start-year needs a value"},
        {{"apply", "FILE", "--start-year", "--wc06"}, "--start-year needs a value"},
        {{"apply", "FILE", "--exit-fix", "on", "--exit-fix", "off"}, "more than once"},
        {{"apply", "FILE", "--start-year", "1999"}, "--start-year"},
        {{"apply", "FILE", "--start-year", "30000"}, "--start-year"},
        {{"apply", "FILE", "--start-year", "20x5"}, "--start-year"},
        {{"apply", "FILE", "--start-year", "99999999999999999999"}, "--start-year"},
        {{"apply", "FILE", "--bosman-year", "1999"}, "--bosman-year"},
        {{"apply", "FILE", "--wc06"}, "--wc06 needs --start-year"},
        {{"apply", "FILE", "--promoted", "0"}, "--promoted"},
        {{"apply", "FILE", "--promoted", "8"}, "--promoted"},
        {{"apply", "FILE", "--relegated", "-1"}, "--relegated"},
        {{"apply", "FILE", "--relegated", "8"}, "--relegated"},
        {{"apply", "FILE", "--conference-original", "--promoted", "2"}, "--conference-original"},
        {{"apply", "FILE", "--relegated", "2", "--conference-original"}, "--conference-original"},
        {{"apply", "FILE", "--click-delay", "0"}, "--click-delay"},
        {{"apply", "FILE", "--click-delay", "7"}, "--click-delay"},
        {{"apply", "FILE", "--click-delay", "fast"}, "--click-delay"},
        {{"apply", "FILE", "--exit-fix", "yes"}, "--exit-fix"},
        // A bad value wins over a file that cannot be used.
        {{"apply", "MISSING", "--promoted", "9"}, "--promoted"},
    };
    make(game_recipe(1 << 18));
    const bytes before = contents();
    for (const auto &c : cases) {
        std::vector<std::string> args;
        for (const std::string &a : c.args)
            args.push_back(a == "FILE" ? path : a == "MISSING" ? dir + "/missing.exe" : a);
        run_result r = cli(args);
        SCOPED_TRACE(r.err);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(line_count(r.err), 1);
        EXPECT_NE(r.err.find(c.named), std::string::npos);
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_EQ(contents(), before);
}

TEST_F(cli_test, help_goes_to_standard_output_with_status_0)
{
    run_result r = cli({"--help"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("usage:"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
}

TEST_F(cli_test, files_that_cannot_be_used_exit_3)
{
    const std::string missing = dir + "/missing.exe";
    const std::string empty = dir + "/empty.exe";
    ASSERT_TRUE(write_file(empty, bytes{}));
    const struct {
        std::string file;
        const char *named;
    } cases[] = {
        {missing, "cannot be opened for reading"},
        {dir, "cannot be opened for reading"},
        {empty, "empty"},
    };
    for (const auto &c : cases) {
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"scan", c.file}, std::vector<std::string>{"scan", "--json", c.file},
              std::vector<std::string>{"apply", c.file, "--exit-fix", "on", "--backup"}}) {
            run_result r = cli(args);
            SCOPED_TRACE(r.err);
            EXPECT_EQ(r.exit_code, 3);
            EXPECT_EQ(line_count(r.err), 1);
            EXPECT_NE(r.err.find(c.named), std::string::npos);
            EXPECT_TRUE(r.out.empty()) << r.out;
        }
    }
    EXPECT_FALSE(std::ifstream(missing).good()) << "apply never creates the file";
    EXPECT_TRUE(read_file(empty).empty());
    EXPECT_FALSE(std::ifstream(empty + ".bak").good());
}

// Runs the CLI on a file the CLI must not be able to write. Root can write a
// read-only file, so root makes it immutable, or else runs the CLI as nobody.
class unwritable_file {
public:
    explicit unwritable_file(const std::string &path) : path_(path)
    {
        if (getuid() != 0) {
            chmod(path.c_str(), 0444);
            usable_ = true;
            return;
        }
        if (run_program("/usr/bin/chattr", {"+i", path}).exit_code == 0) {
            immutable_ = true;
            usable_ = true;
            return;
        }
        chmod(path.c_str(), 0444);
        std::string dir = path.substr(0, path.rfind('/'));
        chmod(dir.c_str(), 0777);
        as_uid_ = NOBODY;
        usable_ = true;
    }
    ~unwritable_file()
    {
        if (immutable_)
            run_program("/usr/bin/chattr", {"-i", path_});
        chmod(path_.c_str(), 0644);
    }
    bool usable() const { return usable_; }
    int as_uid() const { return as_uid_; }

private:
    std::string path_;
    bool immutable_ = false;
    bool usable_ = false;
    int as_uid_ = -1;
};

TEST_F(cli_test, a_read_only_file_is_left_alone)
{
    make(game_recipe(1 << 18));
    const bytes before = contents();
    unwritable_file lock(path);
    if (!lock.usable())
        GTEST_SKIP() << "cannot make a file unwritable here";

    run_result r = cli({"apply", path, "--exit-fix", "on", "--backup"}, lock.as_uid());
    if (r.exit_code == 126)
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_NE(r.err.find("cannot be opened for writing"), std::string::npos) << r.err;
    EXPECT_EQ(line_count(r.err), 1) << r.err;
    EXPECT_EQ(contents(), before);
    EXPECT_FALSE(std::ifstream(path + ".bak").good()) << "no backup when nothing can be written";

    // Reading it is still fine.
    EXPECT_EQ(cli({"scan", path}, lock.as_uid()).exit_code, 0);
}

TEST_F(cli_test, an_unreadable_file_exits_3)
{
    make(game_recipe(1 << 18));
    chmod(path.c_str(), 0);
    chmod(dir.c_str(), 0777);
    int as_uid = getuid() == 0 ? NOBODY : -1;
    run_result r = cli({"scan", path}, as_uid);
    if (r.exit_code == 126)
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_NE(r.err.find("cannot be opened for reading"), std::string::npos) << r.err;
    r = cli({"apply", path, "--start-year", "2010"}, as_uid);
    EXPECT_EQ(r.exit_code, 3);
    chmod(path.c_str(), 0644);
}

} // namespace
