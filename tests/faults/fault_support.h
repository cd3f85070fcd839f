#pragma once

// Helpers of the fault tests: scratch folders on a real file system, files as
// bytes, and running the fault runner or the CLI with the fault injector
// loaded and a time limit.

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file_bytes.h"
#include "run_program.h"
#include "patch/catalogue.h"

// Calls a helper that checks as it goes, so that its failures name the
// caller's line too.
#define AT_CALLER(...)                    \
    ([&]() {                              \
        SCOPED_TRACE("called from here"); \
        return __VA_ARGS__;               \
    }())

// A fresh folder for the current test under the build tree (not /tmp, which
// may be tmpfs, where attributes such as immutable cannot be set).
std::string scratch_dir();
// A sample image with every site in the game's state, over two windows.
bytes game_image();

// Runs `program` with `args`, with `env` ("NAME=value") added to the
// environment and the fault injector preloaded.
run_result run_injected(const std::string &program, const std::vector<std::string> &args,
                        const std::vector<std::string> &env, int timeout_seconds = 60);

std::string runner_path();
// Empty when the CLI is not part of this build.
std::string cli_path();
// The CLI's arguments for the same changes the runner makes on a game image.
std::vector<std::string> cli_apply_args(const std::string &file);

// A site as the runner reports it: "site NAME OFS LEN".
struct site_range {
    std::string name;
    int64_t ofs;
    int64_t len;
};
std::vector<site_range> reported_sites(const std::string &out);
// The writer's result the runner printed; 1000 when none.
int reported_result(const std::string &out);

// Calls of each injectable op in one clean run, from the injector's log.
struct op_counts {
    long fread_calls, fwrite_calls, fseek_calls, fflush_calls, fclose_calls, update_opens;
};
// The run writes `image` to `file` first, and may change it.
op_counts count_ops(const std::string &program, const std::vector<std::string> &args,
                    const std::string &file, const bytes &image);

// "" when `got` equals `before` outside the ranges of `sites` and, in each
// range, holds all of `before` or all of `after`; else where it does not.
std::string mixed_difference(const bytes &got, const bytes &before, const bytes &after,
                             const std::vector<site_range> &sites);
// `before` with the ranges of `sites` taken from `after`.
bytes with_sites(const bytes &before, const bytes &after, const std::vector<site_range> &sites);
