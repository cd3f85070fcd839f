#pragma once

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

// A path under the temporary folder, unique to the running process and
// `name`: ctest runs every test in a process of its own, side by side.
inline std::string scratch_path(const std::string &name)
{
    return testing::TempDir() + "zandor-" + std::to_string(getpid()) + "-" + name;
}
