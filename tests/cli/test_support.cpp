#include "test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

std::string make_temp_dir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "zandor-test-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        return std::string();
    return std::string(buf.data());
}

void remove_tree(const std::string &dir)
{
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

std::vector<int64_t> find_all(const bytes &data, const uint8_t *sig, int32_t len)
{
    std::vector<int64_t> hits;
    const auto n = static_cast<int64_t>(data.size());
    for (int64_t i = 0; i + len <= n; ++i)
        if (data[static_cast<size_t>(i)] == sig[0]
            && std::memcmp(data.data() + i, sig, static_cast<size_t>(len)) == 0)
            hits.push_back(i);
    return hits;
}

std::vector<int64_t> find_site(const bytes &data, site_id site)
{
    return find_all(data, patch_catalogue[site].sig, patch_catalogue[site].sig_len);
}

namespace {

std::string slurp_fd(int fd)
{
    std::string s;
    lseek(fd, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<size_t>(n));
    return s;
}

int scratch_fd()
{
    char name[] = "/tmp/zandor-run-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0)
        unlink(name);
    return fd;
}

} // namespace

run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       int timeout_seconds, int as_uid)
{
    run_result r{-1, false, false, std::string(), std::string()};
    int out_fd = scratch_fd();
    int err_fd = scratch_fd();
    if (out_fd < 0 || err_fd < 0)
        return r;

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        if (as_uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(as_uid)) != 0 || setuid(static_cast<uid_t>(as_uid)) != 0))
            _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid < 0)
        return r;

    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status))
        r.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status) && !r.timed_out)
        r.crashed = true;
    r.out = slurp_fd(out_fd);
    r.err = slurp_fd(err_fd);
    close(out_fd);
    close(err_fd);
    return r;
}

bool make_image(const std::string &path, const sample_spec &spec, sample_spec *placed)
{
    if (placed != nullptr && sample_layout(&spec, placed) != 0)
        return false;
    return sample_write(path.c_str(), &spec) == 0;
}
