#pragma once

#include <unistd.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

// A path under the temporary folder, unique to the running process, test and
// `name`: test runs side by side must not share files.
inline std::string scratch_path(const std::string &name)
{
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string id = std::string(info->test_suite_name()) + "-" + info->name() + "-" + name;
    std::replace(id.begin(), id.end(), '/', '_');
    return testing::TempDir() + "zandor-" + std::to_string(getpid()) + "-" + id;
}
