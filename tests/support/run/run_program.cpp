#include "run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

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
                       int timeout_seconds, int as_uid, const std::vector<std::string> &env)
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
        for (const std::string &setting : env)
            putenv(const_cast<char *>(setting.c_str()));
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

