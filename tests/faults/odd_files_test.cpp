// Files that are not what a patcher expects: not writable, not a regular
// file, too short for any site, at the 2 GiB limit of the search, or behind
// the longest path Windows allows. Each ends with a clear outcome and the
// file as it was or fully written.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "fault_support.h"
#include "patch/apply_patches.h"

namespace {

bool tool_works(const std::vector<std::string> &args)
{
    run_result r = run_injected(args[0], std::vector<std::string>(args.begin() + 1, args.end()), {}, 20);
    return r.exit_code == 0;
}

// Runs the runner or the CLI, as the user `nobody` when `as_nobody`.
run_result run_as(bool as_nobody, const std::string &program, const std::vector<std::string> &args)
{
    if (!as_nobody)
        return run_injected(program, args, {});
    std::vector<std::string> wrapped{"--reuid=65534", "--regid=65534", "--clear-groups", "--", program};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    return run_injected("/usr/bin/setpriv", wrapped, {});
}

class read_only_file : public testing::Test
{
  protected:
    void TearDown() override
    {
        // Undone even when the test failed, or the build tree cannot be removed.
        if (!immutable_.empty()) {
            EXPECT_TRUE(tool_works({"/usr/bin/chattr", "-i", immutable_})) << "chattr -i " << immutable_;
        }
    }

    std::string immutable_;
};

TEST_F(read_only_file, is_refused_and_left_alone)
{
    std::string dir = AT_CALLER(scratch_dir());
    std::string file = dir + "/GAME.EXE";
    bytes before = AT_CALLER(game_image());
    ASSERT_TRUE(write_file(file, before));

    // As root a mode of 0444 stops nobody: make the file immutable, or
    // become an unprivileged user.
    bool as_nobody = false;
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    } else if (tool_works({"/usr/bin/chattr", "+i", file})) {
        immutable_ = file;
    } else if (access("/usr/bin/setpriv", X_OK) == 0 && chmod(dir.c_str(), 0755) == 0
               && run_as(true, "/usr/bin/test", {"-r", file}).exit_code == 0) {
        as_nobody = true;
    } else {
        GTEST_SKIP() << "cannot make a file read-only for root here: chattr +i fails (tmpfs?) and "
                        "setpriv cannot run as nobody with access to the build tree";
    }

    run_result r = run_as(as_nobody, runner_path(), {"apply", file});
    EXPECT_EQ(r.exit_code, 3) << r.out << r.err;
    EXPECT_EQ(reported_result(r.out), RESULT_WRITE_OPEN_FAILED);
    EXPECT_TRUE(read_file(file) == before);

    if (!cli_path().empty()) {
        r = run_as(as_nobody, cli_path(), cli_apply_args(file));
        EXPECT_EQ(r.exit_code, 3) << r.err;
        EXPECT_TRUE(read_file(file) == before);
        r = run_as(as_nobody, cli_path(), {"scan", file});
        EXPECT_EQ(r.exit_code, 0) << "reading should still work: " << r.err;
    }
}

// Things given as the file that are no regular file: none is opened, none
// blocks (a FIFO would, if opened), nothing is created.
TEST(odd_files, what_is_no_regular_file_is_refused_at_once)
{
    std::string dir = AT_CALLER(scratch_dir());
    ASSERT_EQ(mkdir((dir + "/folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink((dir + "/nowhere").c_str(), (dir + "/dangling").c_str()), 0);
    const std::string paths[] = {dir + "/folder", dir + "/fifo", "/dev/null", "/dev/zero",
                                 dir + "/missing", dir + "/dangling"};
    for (const std::string &p : paths) {
        SCOPED_TRACE(p);
        run_result r = run_injected(runner_path(), {"apply", p}, {}, 20);
        EXPECT_FALSE(r.timed_out) << "blocked on opening";
        EXPECT_EQ(r.exit_code, 4) << r.out << r.err;
        if (cli_path().empty())
            continue;
        for (const std::vector<std::string> &args : {std::vector<std::string>{"scan", p}, cli_apply_args(p)}) {
            r = run_injected(cli_path(), args, {}, 20);
            EXPECT_FALSE(r.timed_out) << "blocked on opening";
            EXPECT_EQ(r.exit_code, 3) << r.err;
        }
    }
    EXPECT_NE(access((dir + "/missing").c_str(), F_OK), 0) << "a missing file was created";
    EXPECT_NE(access((dir + "/nowhere").c_str(), F_OK), 0) << "a dangling link's target was created";
}

TEST(odd_files, a_link_to_the_game_is_followed_and_the_game_written)
{
    std::string dir = AT_CALLER(scratch_dir());
    std::string file = dir + "/GAME.EXE", link = dir + "/LINK.EXE";
    bytes before = AT_CALLER(game_image());
    ASSERT_TRUE(write_file(file, before));
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    run_result r = run_injected(runner_path(), {"apply", link}, {});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(reported_sites(r.out).size(), static_cast<std::size_t>(SITE_COUNT));
    bytes after = read_file(file);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after != before);
}

bytes sig_of(site_id id)
{
    const site_entry &e = patch_catalogue[id];
    return bytes(e.sig, e.sig + e.sig_len);
}

bytes concat(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Files with no room for any site, or only for a signature whose value or
// block the end of the file cuts off: no site, nothing written.
TEST(odd_files, files_too_short_for_any_site_are_left_alone)
{
    const bytes exit_block(patch_catalogue[SITE_EXITGAME].unpatched, patch_catalogue[SITE_EXITGAME].unpatched + 4);
    struct short_case {
        const char *what;
        bytes data;
    };
    const short_case cases[] = {
        {"empty", {}},
        {"shorter than every signature", {0x6a, 0xff, 0x33, 0xdb}},
        {"a start year signature and nothing after it", sig_of(SITE_START_YEAR)},
        {"a start year signature and one byte of the year", concat(sig_of(SITE_START_YEAR), {0xd1})},
        {"an exit fix signature and 4 of its 5 bytes", concat(sig_of(SITE_EXITGAME), exit_block)},
    };
    std::string dir = AT_CALLER(scratch_dir());
    std::string file = dir + "/GAME.EXE";
    for (const short_case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write_file(file, c.data));
        run_result r = run_injected(runner_path(), {"apply", file}, {});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(reported_sites(r.out).empty()) << r.out;
        EXPECT_EQ(reported_result(r.out), RESULT_OK);
        EXPECT_TRUE(read_file(file) == c.data);
        if (cli_path().empty())
            continue;
        r = run_injected(cli_path(), cli_apply_args(file), {});
        EXPECT_TRUE(r.exit_code == 2 || r.exit_code == 3) << r.exit_code << r.err;
        EXPECT_TRUE(read_file(file) == c.data);
    }
}

// A sparse file of `size` bytes with `pieces` written at their offsets.
struct piece {
    int64_t at;
    bytes data;
};

bool make_sparse(const std::string &path, int64_t size, const std::vector<piece> &pieces)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = ftruncate(fd, size) == 0;
    for (const piece &p : pieces)
        ok = ok && pwrite(fd, p.data.data(), p.data.size(), p.at) == static_cast<ssize_t>(p.data.size());
    return close(fd) == 0 && ok;
}

bytes read_at(const std::string &path, int64_t at, std::size_t n)
{
    bytes data(n);
    int fd = open(path.c_str(), O_RDONLY);
    ssize_t got = fd >= 0 ? pread(fd, data.data(), n, at) : -1;
    if (fd >= 0)
        close(fd);
    data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return data;
}

int64_t length_of(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

constexpr int64_t LIMIT = INT32_MAX;  // 2 GiB - 1: the search reads below this offset

TEST(odd_files, a_file_of_2_gib_minus_1_is_searched_to_its_last_byte)
{
    std::string file = AT_CALLER(scratch_dir()) + "/BIG.EXE";
    // The start year's last byte is the file's last byte.
    const int64_t sig_at = LIMIT - 2 - 5;
    ASSERT_TRUE(make_sparse(file, LIMIT, {{sig_at, concat(sig_of(SITE_START_YEAR), {0xd1, 0x07})}}));
    run_result r = run_injected(runner_path(), {"apply", file}, {}, 300);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::vector<site_range> sites = reported_sites(r.out);
    ASSERT_EQ(sites.size(), 1u) << r.out;
    EXPECT_EQ(sites[0].name, "start_year");
    EXPECT_EQ(sites[0].ofs, LIMIT - 2);
    EXPECT_EQ(read_at(file, LIMIT - 2, 2), (bytes{0xda, 0x07}));  // 2010
    EXPECT_EQ(length_of(file), LIMIT);
    std::remove(file.c_str());
}

TEST(odd_files, past_2_gib_minus_1_nothing_is_found_or_written)
{
    std::string file = AT_CALLER(scratch_dir()) + "/BIG.EXE";
    const int64_t size = LIMIT + 1 + 4096;
    const bytes exit_sig = sig_of(SITE_EXITGAME);
    const std::vector<piece> pieces = {
        // Wholly searchable: found and written.
        {LIMIT - 300, concat(sig_of(SITE_BOSMAN_YEAR), {0xd2, 0x07})},
        // The signature's last byte is the last one searched, but its block
        // lies beyond an offset that a signed 32-bit number can hold: absent.
        {LIMIT - 1 - static_cast<int64_t>(exit_sig.size()), concat(exit_sig, {0x8d, 0x8c, 0x24, 0x18, 0x01})},
        // Beyond the search.
        {LIMIT + 100, concat(sig_of(SITE_START_YEAR), {0xd1, 0x07})},
    };
    ASSERT_TRUE(make_sparse(file, size, pieces));
    run_result r = run_injected(runner_path(), {"apply", file}, {}, 300);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::vector<site_range> sites = reported_sites(r.out);
    ASSERT_EQ(sites.size(), 1u) << r.out;
    EXPECT_EQ(sites[0].name, "bosman_year");
    EXPECT_NE(r.err.find("exitgame: ofs = " + std::to_string(LIMIT - 1 - static_cast<int64_t>(exit_sig.size()))),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_at(file, LIMIT - 300 + 21, 2), (bytes{0xdb, 0x07}));  // 2011
    for (std::size_t i = 1; i < pieces.size(); ++i)
        EXPECT_EQ(read_at(file, pieces[i].at, pieces[i].data.size()), pieces[i].data) << "changed past the limit";
    EXPECT_EQ(length_of(file), size);
    std::remove(file.c_str());
}

// The longest path the Windows API takes: 259 characters and the terminator.
TEST(odd_files, a_path_of_259_characters_works)
{
    std::string dir = AT_CALLER(scratch_dir());
    const std::string name = "/GAME.EXE";
    ASSERT_LE(dir.size() + name.size(), 259u) << "the build tree lies too deep for this test";
    std::size_t room = 259 - dir.size() - name.size();
    ASSERT_NE(room, 1u);
    // Folders of at most 200 characters, each after a '/'.
    std::string path = dir;
    while (room > 0) {
        std::size_t n = room - 1 < 200 ? room - 1 : 200;
        if (room - 1 - n == 1)
            --n;  // never leave room for a lone '/'
        path += "/" + std::string(n, 'd');
        room -= n + 1;
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
    }
    path += name;
    ASSERT_EQ(path.size(), 259u);
    bytes before = AT_CALLER(game_image());
    ASSERT_TRUE(write_file(path, before));
    run_result r = run_injected(runner_path(), {"apply", path}, {});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(reported_sites(r.out).size(), static_cast<std::size_t>(SITE_COUNT));
    bytes written = read_file(path);
    if (!cli_path().empty()) {
        ASSERT_TRUE(write_file(path, before));
        r = run_injected(cli_path(), cli_apply_args(path), {});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(read_file(path) == written) << "the CLI and the runner wrote different bytes";
    }
}

} // namespace
