#pragma once

#include <string>
#include <vector>

// Running a built program from a test, with a time limit.

// Whether the output `seen` holds `part`.
inline bool has(const std::string &seen, const std::string &part)
{
    return seen.find(part) != seen.npos;
}

struct run_result {
    int exit_code;          // -1 when the program did not exit normally
    bool timed_out, crashed; // killed at the time limit, or by another signal
    std::string out, err;
};

// Runs `program` with `args` and the settings `env` ("NAME=value") added to
// its environment; standard input is empty. With `as_uid` >= 0 (and the test
// running as root) the program runs as that user.
run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       int timeout_seconds = 60, int as_uid = -1, const std::vector<std::string> &env = {});
