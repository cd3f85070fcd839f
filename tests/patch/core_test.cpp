// The core where runs of the command-line tool cannot tell faults apart:
// catalogue bytes, window edges, the read-back check, and a file changed
// between the scan and the write.

#include <gtest/gtest.h>

#include <numeric>
#include <source_location>

#include "file_bytes.h"
#include "patch/patch_run.h"
#include "patch/sig_stream.h"
#include "scratch_path.h"
#include "tools/sample_image.h"

namespace {

TEST(catalogue, holds_the_listed_bytes)
{
    // Lengths of the signature, the block and the game's known bytes, and
    // FNV-1a of the listed signature, game's block and ours.
    const uint32_t listed[SITE_COUNT][6] = {
        {5, 2, 0, 0xb8a9e83c, 0x811c9dc5, 0x811c9dc5},  {9, 110, 64, 0x210ccb5c, 0xb8596c5d, 0xfd20dc0f},
        {21, 2, 0, 0x89433297, 0x811c9dc5, 0x811c9dc5}, {18, 29, 29, 0x8ed41d0a, 0x46703f14, 0x1649b5d4},
        {25, 5, 5, 0xe5f433b2, 0xc073f063, 0xe884e41b}, {63, 24, 24, 0x8fa64d39, 0x9b634c1d, 0xcc2be152},
        {65, 25, 25, 0x80090a37, 0xefad2773, 0xe312c72a}};
    const auto fnv = [](const uint8_t *p, int32_t n) {
        const auto step = [](uint32_t h, uint8_t b) { return (h ^ b) * 0x01000193u; };
        return std::accumulate(p, p + n, 0x811c9dc5u, step);
    };
    for (const site_entry &e : patch_catalogue) {
        const uint32_t *l = listed[&e - patch_catalogue];
        const int32_t ours = e.unpatched_known > 0 ? e.block_len : 0; // none at a year site
        const int64_t got[6] = {e.sig_len, e.block_len, e.unpatched_known, fnv(e.sig, e.sig_len),
                                fnv(e.unpatched, e.unpatched_known), fnv(e.patched, ours)};
        EXPECT_EQ(std::vector<int64_t>(got, got + 6), std::vector<int64_t>(l, l + 6)) << e.name;
    }
}

TEST(sig_stream, finds_each_occurrence_across_window_edges)
{
    constexpr int32_t W = 65536;
    const std::string sig = "\x90\x5a\x90"; // searched by its rarer middle byte; two may share a byte
    const struct { int32_t size; std::vector<int32_t> at; } cases[] = {
        {2, {}}, {3, {0}}, {5, {0, 2}}, {100, {10, 50}}, {3 * W, {W - 2}}, {3 * W, {W - 1}}, {3 * W, {W}},
        {3 * W, {W + 1}}, {W + 3, {0, W}}, {W + 2, {W - 1}}, {3 * W, {2 * W - 2, 2 * W + 1, 3 * W - 3}}};
    const std::string path = scratch_path("file");
    sig_find_fn *paths[sig_find_max_paths];
    const int32_t path_count = sig_find_paths(paths);
    for (const auto &c : cases) {
        bytes file(static_cast<size_t>(c.size));
        for (int32_t a : c.at)
            std::copy(sig.begin(), sig.end(), file.begin() + a);
        ASSERT_TRUE(write_file(path, file));
        for (int32_t k = 0; k < path_count; ++k) {
            sig_stream *s = sig_stream_open(path.c_str(), 3, reinterpret_cast<const uint8_t *>(sig.data()));
            s->find = paths[k];
            std::vector<int32_t> found, expected = c.at;
            expected.insert(expected.end(), {-1, -1}); // and -1 again after the end
            while (found.size() < expected.size())
                found.push_back(sig_stream_next(s));
            sig_stream_close(s);
            EXPECT_EQ(found, expected) << "file of " << c.size << ", search path " << k;
        }
    }
}

// Only a write gone wrong makes a site read back otherwise: here the plan,
// or what a second scan read, is changed instead.
TEST(patch_verify, names_the_site_that_did_not_read_back)
{
    // The change, and the site named (-2: none).
    const struct {
        void (*change)(patch_target &plan, patch_target &after);
        int site;
        std::source_location where = std::source_location::current();
    } cases[] = {
        {[](patch_target &, patch_target &) {}, -2},
        {[](patch_target &, patch_target &a) { a.file_size++; }, -1},
        {[](patch_target &, patch_target &a) { a.seen[SITE_START_YEAR].bytes[1]++; }, SITE_START_YEAR},
        {[](patch_target &p, patch_target &) { p.start_year = 2003; }, SITE_START_YEAR},
        {[](patch_target &, patch_target &a) { a.seen[SITE_WC06_FIX].bytes[100]++; }, SITE_WC06_FIX},
        // The fix goes only with the start year, and the pair only whole.
        {[](patch_target &p, patch_target &a) { p.start_year_ofs = a.seen[SITE_WC06_FIX].bytes[0] = 0; }, -2},
        {[](patch_target &p, patch_target &a) { p.conf_promoted_ofs = a.seen[SITE_CONF_COUNTS].bytes[0] = 0; }, -2},
        {[](patch_target &, patch_target &a) { a.seen[SITE_BOSMAN_YEAR].ofs++; }, SITE_BOSMAN_YEAR},
        {[](patch_target &p, patch_target &) { p.click_delay = 3; }, SITE_CLICK_DELAY},
        {[](patch_target &p, patch_target &) { p.exitgame_installed = 1; }, SITE_EXITGAME},
        {[](patch_target &p, patch_target &) { p.touch_conference = 1; }, SITE_CONF_COUNTS},
        {[](patch_target &, patch_target &a) { a.seen[SITE_CONF_PROMOTED].ofs = -1; }, SITE_CONF_PROMOTED},
    };
    const std::string path = scratch_path("image");
    sample_recipe r;
    sample_defaults(&r, 1 << 18);
    patch_target *t = nullptr;
    ASSERT_TRUE(sample_write(path.c_str(), &r) == 0 && scan_file(path.c_str(), &t) == RESULT_OK);
    for (const auto &c : cases) {
        patch_target plan = *t, after = *t;
        c.change(plan, after);
        const patch_outcome o = patch_verify(&plan, &after);
        EXPECT_EQ(o.result, c.site == -2 ? RESULT_OK : RESULT_VERIFY_FAILED) << "line " << c.where.line();
        EXPECT_EQ(o.site, c.site == -2 ? -1 : c.site) << "line " << c.where.line();
        EXPECT_EQ(outcome_cause(o), c.site == -2 ? CAUSE_NONE : CAUSE_READ_BACK) << "line " << c.where.line();
    }
    close_target(t);
}

// Another program changes a byte between the scan and the write (while the
// options dialog is open, say): a site that the run writes is written only
// while it holds what the scan saw, and then nothing at all is written.
TEST(patch_scanned, writes_over_no_site_changed_since_the_scan)
{
    // The site and the byte in it changed (-1: in its signature), the Bosman year asked for (0: none).
    const struct { int site, at, bosman; patch_result want; } cases[] = {
        {SITE_BOSMAN_YEAR, 0, 2002, RESULT_FILE_CHANGED}, // now 2007: 2002 would go back over it
        {SITE_BOSMAN_YEAR, 0, 0, RESULT_OK},               // not written: 2007 stays
        {SITE_WC06_FIX, 100, 0, RESULT_FILE_CHANGED},      // past the byte that tells the block
        {SITE_START_YEAR, -1, 0, RESULT_FILE_CHANGED},
    };
    const std::string path = scratch_path("image");
    sample_recipe r;
    sample_defaults(&r, 1 << 18);
    for (const auto &c : cases) {
        patch_target *t = nullptr;
        ASSERT_TRUE(sample_write(path.c_str(), &r) == 0 && scan_file(path.c_str(), &t) == RESULT_OK);
        bytes b = read_file(path);
        b[target_site_ofs(t, c.site) + c.at] ^= 5; // 2002 (d2 07) becomes 2007
        patch_request q{};
        q.start_year = {1, 2010}, q.wc06 = WC06_FOLLOW, q.bosman_year = {c.bosman != 0, c.bosman};
        ASSERT_TRUE(write_file(path, b));
        EXPECT_EQ(patch_scanned(&q, t, nullptr).result, c.want) << &c - cases;
        // Nothing written; or the start year written and read back, the other program's year kept.
        const bytes now = read_file(path);
        EXPECT_TRUE(c.want == RESULT_OK ? now[t->bosman_year_ofs] == b[t->bosman_year_ofs] : now == b) << &c - cases;
        close_target(t);
    }
}

} // namespace
