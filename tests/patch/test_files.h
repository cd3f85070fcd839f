#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file_bytes.h"
#include "scratch_path.h"

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
