// The core where runs of the command-line tool cannot tell faults apart: the
// read-back check, and a file changed between the scan and the write. (The
// search across window edges is the sig_stream fuzz harness's business: its
// starting inputs put signatures at every edge, by every search path.)

#include <gtest/gtest.h>

#include <source_location>

#include "file_bytes.h"
#include "patch/patch_run.h"
#include "sample_sites.h"
#include "scratch_path.h"

namespace {

using where = std::source_location;

// Only a write gone wrong makes a site read back otherwise: here the plan,
// or what a second scan read, is changed instead.
TEST(patch_verify, names_the_site_that_did_not_read_back)
{
    // Each change to the plan or to what the second scan read, and the site named (-2: none).
    using change = void (*)(patch_target &plan, patch_target &after);
    const struct { where row; change c; int site; } cases[] = {
        {where::current(), [](patch_target &, patch_target &) {}, -2},
        {where::current(), [](patch_target &, patch_target &a) { a.file_size++; }, -1},
        {where::current(), [](patch_target &, patch_target &a) { a.seen[SITE_START_YEAR].bytes[1]++; }, SITE_START_YEAR},
        {where::current(), [](patch_target &p, patch_target &) { p.start_year = 2003; }, SITE_START_YEAR},
        {where::current(), [](patch_target &, patch_target &a) { a.seen[SITE_WC06_FIX].bytes[100]++; }, SITE_WC06_FIX},
        // The fix goes only with the start year, and the pair only whole.
        {where::current(), [](patch_target &p, patch_target &a) { p.start_year_ofs = a.seen[SITE_WC06_FIX].bytes[0] = 0; }, -2},
        {where::current(), [](patch_target &p, patch_target &a) { p.conf_promoted_ofs = a.seen[SITE_CONF_COUNTS].bytes[0] = 0; }, -2},
        {where::current(), [](patch_target &, patch_target &a) { a.seen[SITE_BOSMAN_YEAR].ofs++; }, SITE_BOSMAN_YEAR},
        {where::current(), [](patch_target &p, patch_target &) { p.click_delay = 3; }, SITE_CLICK_DELAY},
        {where::current(), [](patch_target &p, patch_target &) { p.exitgame_installed = 1; }, SITE_EXITGAME},
        {where::current(), [](patch_target &p, patch_target &) { p.touch_conference = 1; }, SITE_CONF_COUNTS},
        {where::current(), [](patch_target &, patch_target &a) { a.seen[SITE_CONF_PROMOTED].ofs = -1; }, SITE_CONF_PROMOTED},
    };
    const std::string path = scratch_path("image");
    patch_target *t = nullptr;
    ASSERT_TRUE(sample_file(path.c_str(), {}, 1 << 18).size > 0 && scan_file(path.c_str(), &t) == RESULT_OK);
    for (const auto &c : cases) {
        const testing::ScopedTrace trace(c.row.file_name(), c.row.line(), "");
        patch_target plan = *t, after = *t;
        c.c(plan, after);
        const patch_outcome o = patch_verify(&plan, &after);
        EXPECT_EQ(o.result, c.site == -2 ? RESULT_OK : RESULT_VERIFY_FAILED);
        EXPECT_EQ(o.site, c.site == -2 ? -1 : c.site);
        EXPECT_EQ(outcome_cause(o), c.site == -2 ? CAUSE_NONE : CAUSE_READ_BACK);
    }
    close_target(t);
}

// Another program changes a byte between the scan and the write (while the
// options dialog is open, say): a site that the run writes is written only
// while it holds what the scan saw, and then nothing at all is written.
TEST(patch_scanned, writes_over_no_site_changed_since_the_scan)
{
    // The site and the byte in it changed (-1: in its signature), the Bosman year asked for (0: none).
    const struct { where row; int site, at, bosman; patch_result want; } cases[] = {
        {where::current(), SITE_BOSMAN_YEAR, 0, 2002, RESULT_FILE_CHANGED}, // now 2007: 2002 would go back over it
        {where::current(), SITE_BOSMAN_YEAR, 0, 0, RESULT_OK},               // not written: 2007 stays
        {where::current(), SITE_WC06_FIX, 100, 0, RESULT_FILE_CHANGED},      // past the byte that tells the block
        {where::current(), SITE_START_YEAR, -1, 0, RESULT_FILE_CHANGED},
    };
    const std::string path = scratch_path("image");
    for (const auto &c : cases) {
        const testing::ScopedTrace trace(c.row.file_name(), c.row.line(), "");
        patch_target *t = nullptr;
        ASSERT_TRUE(sample_file(path.c_str(), {}, 1 << 18).size > 0 && scan_file(path.c_str(), &t) == RESULT_OK);
        bytes b = read_file(path);
        b[target_site_ofs(t, c.site) + c.at] ^= 5; // 2002 (d2 07) becomes 2007
        patch_request q{};
        q.start_year = {1, 2010}, q.wc06 = WC06_FOLLOW, q.bosman_year = {c.bosman != 0, c.bosman};
        ASSERT_TRUE(write_file(path, b));
        EXPECT_EQ(patch_scanned(&q, t, nullptr).result, c.want);
        // Nothing written; or the start year written and read back, the other program's year kept.
        const bytes now = read_file(path);
        EXPECT_TRUE(c.want == RESULT_OK ? now[t->bosman_year_ofs] == b[t->bosman_year_ofs] : now == b);
        close_target(t);
    }
}

} // namespace
