#include "run_program.h"

#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       int timeout_seconds, int as_uid, const std::vector<std::string> &env)
{
    run_result r{-1, false, false, std::string(), std::string()};
    // Output goes to unnamed files: unlike a pipe they never fill up while we wait.
    const auto slurp = [](std::FILE *f) {
        std::string s;
        if (f != nullptr) {
            std::rewind(f);
            for (int c; (c = std::fgetc(f)) != EOF;)
                s += static_cast<char>(c);
            std::fclose(f);
        }
        return s;
    };
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = out != nullptr && err != nullptr ? fork() : -1;
    if (pid == 0) {
        for (const std::string &setting : env)
            putenv(const_cast<char *>(setting.c_str()));
        // The alarm outlives exec: it is the time limit.
        alarm(static_cast<unsigned>(timeout_seconds));
        bool ready = std::freopen("/dev/null", "r", stdin) != nullptr && dup2(fileno(out), 1) == 1
                     && dup2(fileno(err), 2) == 2
                     && (as_uid < 0 || (setgroups(0, nullptr) == 0 && setgid(static_cast<gid_t>(as_uid)) == 0
                                        && setuid(static_cast<uid_t>(as_uid)) == 0));
        if (ready)
            execv(program.c_str(), argv.data());
        _exit(ready ? 127 : 126);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.timed_out = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
        r.crashed = WIFSIGNALED(status) && !r.timed_out;
    }
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}
