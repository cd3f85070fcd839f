#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using bytes = std::vector<uint8_t>;

// A fresh path under the test's own temporary folder.
inline std::string temp_path(const std::string &name)
{
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string id = std::string(info->test_suite_name()) + "-" + info->name() + "-" + name;
    for (char &c : id)
        if (c == '/')
            c = '_';
    return testing::TempDir() + "zandor-" + id;
}

inline void write_file(const std::string &path, const bytes &data)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!data.empty()) {
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
    }
    ASSERT_EQ(std::fclose(f), 0);
}

inline bytes read_file(const std::string &path)
{
    bytes data;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return data;
    uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    return data;
}

// "6a ff 33" -> {0x6a, 0xff, 0x33}
inline bytes hex(const char *text)
{
    bytes out;
    unsigned value = 0;
    int digits = 0;
    for (const char *p = text;; ++p) {
        char c = *p;
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d >= 0) {
            value = value * 16 + static_cast<unsigned>(d);
            ++digits;
        } else {
            EXPECT_TRUE(digits == 0 || digits == 2) << "bad hex near: " << p;
            if (digits == 2)
                out.push_back(static_cast<uint8_t>(value));
            value = 0;
            digits = 0;
            if (c == '\0')
                break;
        }
    }
    return out;
}
