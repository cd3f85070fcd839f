#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "patch/sig_stream.h"
#include "test_files.h"

namespace {

constexpr int32_t W = 65536;

// Every occurrence, by the plain definition.
std::vector<int32_t> reference_search(const bytes &file, const bytes &sig)
{
    std::vector<int32_t> found;
    for (std::size_t i = 0; i + sig.size() <= file.size(); ++i)
        if (std::memcmp(file.data() + i, sig.data(), sig.size()) == 0)
            found.push_back(static_cast<int32_t>(i));
    return found;
}

// Every result a stream gives, up to and including the first -1, then one more.
std::vector<int32_t> stream_results(const std::string &path, const bytes &sig)
{
    std::vector<int32_t> out;
    sig_stream *s = sig_stream_open(path.c_str(), static_cast<int32_t>(sig.size()), sig.data());
    EXPECT_NE(s, nullptr);
    for (;;) {
        int32_t r = sig_stream_next(s);
        out.push_back(r);
        if (r == -1)
            break;
    }
    out.push_back(sig_stream_next(s));
    sig_stream_close(s);
    return out;
}

std::vector<int32_t> then_end(std::vector<int32_t> v)
{
    v.push_back(-1);
    v.push_back(-1);
    return v;
}

const bytes sig5 = {0x6a, 0xff, 0x33, 0xdb, 0x68};

bytes zeros_with(std::size_t size, std::initializer_list<std::size_t> at, const bytes &sig)
{
    bytes file(size, 0);
    for (std::size_t a : at)
        std::memcpy(file.data() + a, sig.data(), sig.size());
    return file;
}

struct placement_case {
    const char *what;
    std::size_t size;
    std::vector<std::size_t> at;
};

TEST(sig_stream, finds_each_placement_with_its_absolute_offset)
{
    const std::size_t L = sig5.size();
    const placement_case cases[] = {
        {"at offset 0", 100, {0}},
        {"last byte is the file's last", 100, {95}},
        {"file of exactly W+L bytes, match at W", W + L, {W}},
        {"end of the first window", 3 * W, {W - 1}},
        {"straddling the window boundary", 3 * W, {W - 3}},
        {"start of the second window", 3 * W, {W}},
        {"just past the boundary", 3 * W, {W + 1}},
        {"third window and last possible start", 3 * W, {2 * W + 7, 3 * W - L}},
        {"twice in a small file", 1000, {10, 900}},
        {"at both window edges", 2 * W + L, {W - 1, 2 * W}},
    };
    for (const placement_case &c : cases) {
        SCOPED_TRACE(c.what);
        bytes file(c.size, 0);
        std::vector<int32_t> expected;
        for (std::size_t a : c.at) {
            std::memcpy(file.data() + a, sig5.data(), L);
            expected.push_back(static_cast<int32_t>(a));
        }
        std::string path = scratch_path("image");
        ASSERT_TRUE(write_file(path, file));
        EXPECT_EQ(stream_results(path, sig5), then_end(expected));
    }
}

TEST(sig_stream, overlapping_occurrences_are_all_reported)
{
    std::string path = scratch_path("aaa");
    ASSERT_TRUE(write_file(path, bytes{7, 7, 7}));
    EXPECT_EQ(stream_results(path, bytes{7, 7}), (std::vector<int32_t>{0, 1, -1, -1}));
}

TEST(sig_stream, short_empty_and_missing_files_give_minus_one)
{
    std::string path = scratch_path("short");
    ASSERT_TRUE(write_file(path, bytes{0x6a, 0xff, 0x33, 0xdb}));
    EXPECT_EQ(stream_results(path, sig5), (std::vector<int32_t>{-1, -1}));
    ASSERT_TRUE(write_file(path, bytes{}));
    EXPECT_EQ(stream_results(path, sig5), (std::vector<int32_t>{-1, -1}));
    EXPECT_EQ(stream_results(scratch_path("missing"), sig5), (std::vector<int32_t>{-1, -1}));
}

TEST(sig_stream, resumes_one_byte_past_each_match)
{
    std::string path = scratch_path("image");
    ASSERT_TRUE(write_file(path, zeros_with(4 * W, {5, W - 2, 3 * W + 9}, sig5)));
    sig_stream *s = sig_stream_open(path.c_str(), 5, sig5.data());
    EXPECT_EQ(s->pos, 0);
    EXPECT_EQ(sig_stream_next(s), 5);
    EXPECT_EQ(s->pos, 6);
    EXPECT_EQ(sig_stream_next(s), W - 2);
    EXPECT_EQ(s->pos, W - 1);
    EXPECT_EQ(sig_stream_next(s), 3 * W + 9);
    EXPECT_EQ(sig_stream_next(s), -1);
    sig_stream_close(s);
}

// Many small files with planted and accidental occurrences of short
// signatures, compared with the plain search. Small windows are reached by
// making the files span several of them.
TEST(sig_stream, agrees_with_a_plain_search_on_random_files)
{
    std::mt19937 rng(12345);
    std::string path = scratch_path("random");
    for (int round = 0; round < 300; ++round) {
        std::size_t sig_len = 1 + rng() % 6;
        int alphabet = 2 + static_cast<int>(rng() % 3);
        bytes sig(sig_len);
        for (uint8_t &b : sig)
            b = static_cast<uint8_t>(rng() % alphabet);
        std::size_t size = (round % 10 == 0) ? W * 2 + rng() % 300 : rng() % 400;
        bytes file(size);
        for (uint8_t &b : file)
            b = static_cast<uint8_t>(rng() % (alphabet + 3));
        if (size >= sig_len && round % 3 == 0)
            std::memcpy(file.data() + (size - sig_len), sig.data(), sig_len);
        ASSERT_TRUE(write_file(path, file));
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_EQ(stream_results(path, sig), then_end(reference_search(file, sig)));
    }
}

TEST(sig_stream, memory_is_one_window_whatever_the_file)
{
    std::string path = scratch_path("image");
    ASSERT_TRUE(write_file(path, bytes(10, 0)));
    bytes sig(65, 0x90);
    sig_stream *s = sig_stream_open(path.c_str(), 65, sig.data());
    EXPECT_EQ(s->window, W);
    EXPECT_EQ(s->sig, sig.data());
    sig_stream_close(s);
    sig_stream_close(nullptr);
}

} // namespace
