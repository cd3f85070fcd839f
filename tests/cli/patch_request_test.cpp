// The request layer: which requests are refused, what a plan marks for
// writing, what the read-back check catches, and the backup copy.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <functional>

#include "patch/apply_patches.h"
#include "patch/patch_request.h"
#include "test_support.h"

namespace {

patch_request request(const std::function<void(patch_request &)> &change)
{
    patch_request r;
    patch_request_init(&r);
    change(r);
    return r;
}

void set(request_value &v, int32_t value)
{
    v.set = 1;
    v.value = value;
}

TEST(patch_request_check, refuses_bad_values_and_combinations)
{
    const struct {
        const char *what;
        patch_request r;
        int expected;
    } cases[] = {
        {"nothing", request([](patch_request &) {}), REQUEST_NOTHING_REQUESTED},
        {"only dry run and backup", request([](patch_request &r) { r.dry_run = r.backup = 1; }),
         REQUEST_NOTHING_REQUESTED},
        {"start 2000", request([](patch_request &r) { set(r.start_year, 2000); }), REQUEST_OK},
        {"start 29999", request([](patch_request &r) { set(r.start_year, 29999); }), REQUEST_OK},
        {"start 1999", request([](patch_request &r) { set(r.start_year, 1999); }), REQUEST_BAD_START_YEAR},
        {"start 30000", request([](patch_request &r) { set(r.start_year, 30000); }), REQUEST_BAD_START_YEAR},
        {"bosman 1999", request([](patch_request &r) { set(r.bosman_year, 1999); }), REQUEST_BAD_BOSMAN_YEAR},
        {"bosman 30000", request([](patch_request &r) { set(r.bosman_year, 30000); }), REQUEST_BAD_BOSMAN_YEAR},
        {"wc06 alone", request([](patch_request &r) { r.wc06 = 1; }), REQUEST_WC06_NEEDS_START_YEAR},
        {"wc06 with start", request([](patch_request &r) { r.wc06 = 1; set(r.start_year, 2001); }), REQUEST_OK},
        {"promoted 0", request([](patch_request &r) { set(r.promoted, 0); }), REQUEST_BAD_PROMOTED},
        {"promoted 7", request([](patch_request &r) { set(r.promoted, 7); }), REQUEST_OK},
        {"promoted 8", request([](patch_request &r) { set(r.promoted, 8); }), REQUEST_BAD_PROMOTED},
        {"relegated 0", request([](patch_request &r) { set(r.relegated, 0); }), REQUEST_OK},
        {"relegated -1", request([](patch_request &r) { set(r.relegated, -1); }), REQUEST_BAD_RELEGATED},
        {"relegated 8", request([](patch_request &r) { set(r.relegated, 8); }), REQUEST_BAD_RELEGATED},
        {"original and promoted",
         request([](patch_request &r) { r.conference_original = 1; set(r.promoted, 2); }),
         REQUEST_CONFERENCE_CONFLICT},
        {"original and relegated",
         request([](patch_request &r) { r.conference_original = 1; set(r.relegated, 2); }),
         REQUEST_CONFERENCE_CONFLICT},
        {"delay off", request([](patch_request &r) { set(r.click_delay, CLICK_DELAY_OFF); }), REQUEST_OK},
        {"delay 6", request([](patch_request &r) { set(r.click_delay, 6); }), REQUEST_OK},
        {"delay 7", request([](patch_request &r) { set(r.click_delay, 7); }), REQUEST_BAD_CLICK_DELAY},
        {"delay -1", request([](patch_request &r) { set(r.click_delay, -1); }), REQUEST_BAD_CLICK_DELAY},
        {"exit 2", request([](patch_request &r) { set(r.exit_fix, 2); }), REQUEST_BAD_EXIT_FIX},
        {"exit off", request([](patch_request &r) { set(r.exit_fix, 0); }), REQUEST_OK},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(patch_request_check(&c.r), c.expected);
    }
}

TEST(patch_request_results, every_result_has_a_message_and_a_kind)
{
    for (int r = REQUEST_OK; r <= REQUEST_VERIFY_FAILED; ++r) {
        SCOPED_TRACE(r);
        EXPECT_STRNE(request_result_message(r), "unknown result");
        result_kind expected = r == REQUEST_OK                      ? RESULT_KIND_OK
                               : r < REQUEST_SITE_ABSENT            ? RESULT_KIND_USAGE
                               : r <= REQUEST_WC06_ORIGINAL_UNKNOWN ? RESULT_KIND_SITE
                                                                     : RESULT_KIND_FILE;
        EXPECT_EQ(request_result_kind(r), expected);
    }
}

class patch_request_file : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = make_temp_dir();
        ASSERT_FALSE(dir.empty());
        path = dir + "/ZANDOR.EXE";
    }
    void TearDown() override
    {
        close_target(scanned);
        remove_tree(dir);
    }

    // Writes the image and scans it into `scanned`.
    void scan_image(const sample_spec &spec)
    {
        ASSERT_TRUE(make_image(path, spec));
        close_target(scanned);
        scanned = nullptr;
        ASSERT_EQ(scan_file(path.c_str(), &scanned), REQUEST_OK);
    }

    std::string dir;
    std::string path;
    patch_target *scanned = nullptr;
};

TEST_F(patch_request_file, plan_marks_only_requested_sites)
{
    sample_spec spec;
    sample_defaults(&spec, 1 << 18);
    spec.site[SITE_CONF_COUNTS].state = SAMPLE_PATCHED;
    spec.site[SITE_CONF_COUNTS].param = 2;
    spec.site[SITE_CONF_COUNTS].param2 = 5;
    scan_image(spec);
    ASSERT_EQ(scanned->relegated, 5);

    patch_target plan;
    patch_request r = request([](patch_request &q) { set(q.promoted, 6); });
    ASSERT_EQ(patch_request_plan(&r, scanned, &plan).result, REQUEST_OK);
    EXPECT_EQ(plan.start_year_ofs, -1);
    EXPECT_EQ(plan.bosman_year_ofs, -1);
    EXPECT_EQ(plan.wc06_ofs, -1);
    EXPECT_EQ(plan.click_delay_ofs, -1);
    EXPECT_EQ(plan.exitgame_ofs, -1);
    EXPECT_EQ(plan.conf_counts_ofs, scanned->conf_counts_ofs);
    EXPECT_EQ(plan.conf_promoted_ofs, scanned->conf_promoted_ofs);
    EXPECT_EQ(plan.touch_conference, 1);
    EXPECT_EQ(plan.promoted, 6);
    EXPECT_EQ(plan.relegated, 5) << "a count not given keeps the file's";

    r = request([](patch_request &q) { set(q.relegated, 0); });
    ASSERT_EQ(patch_request_plan(&r, scanned, &plan).result, REQUEST_OK);
    EXPECT_EQ(plan.promoted, 1);
    EXPECT_EQ(plan.relegated, 0);

    r = request([](patch_request &q) {
        q.conference_original = 1;
        set(q.click_delay, CLICK_DELAY_OFF);
        set(q.exit_fix, 1);
    });
    ASSERT_EQ(patch_request_plan(&r, scanned, &plan).result, REQUEST_OK);
    EXPECT_EQ(plan.touch_conference, 0);
    EXPECT_EQ(plan.click_delay_ofs, scanned->click_delay_ofs);
    EXPECT_EQ(plan.click_delay, -1);
    EXPECT_EQ(plan.exitgame_ofs, scanned->exitgame_ofs);
    EXPECT_EQ(plan.exitgame_installed, 1);
}

TEST_F(patch_request_file, plan_refuses_absent_sites_and_an_unknown_wc06_original)
{
    const struct {
        const char *what;
        site_id site;
        sample_state state;
        patch_request r;
        request_outcome expected;
    } cases[] = {
        {"start year absent", SITE_START_YEAR, SAMPLE_ABSENT,
         request([](patch_request &q) { set(q.start_year, 2005); }), {REQUEST_SITE_ABSENT, SITE_START_YEAR}},
        {"wc06 duplicated", SITE_WC06_FIX, SAMPLE_DUPLICATED,
         request([](patch_request &q) { set(q.start_year, 2005); q.wc06 = 1; }),
         {REQUEST_SITE_ABSENT, SITE_WC06_FIX}},
        {"start year alone ignores an absent wc06", SITE_WC06_FIX, SAMPLE_ABSENT,
         request([](patch_request &q) { set(q.start_year, 2005); }), {REQUEST_OK, -1}},
        {"click delay unrecognised", SITE_CLICK_DELAY, SAMPLE_UNRECOGNISED,
         request([](patch_request &q) { set(q.click_delay, 2); }), {REQUEST_SITE_ABSENT, SITE_CLICK_DELAY}},
        {"exit fix truncated", SITE_EXITGAME, SAMPLE_TRUNCATED,
         request([](patch_request &q) { set(q.exit_fix, 1); }), {REQUEST_SITE_ABSENT, SITE_EXITGAME}},
        {"conf_promoted absent takes conf_counts with it", SITE_CONF_PROMOTED, SAMPLE_ABSENT,
         request([](patch_request &q) { q.conference_original = 1; }), {REQUEST_SITE_ABSENT, SITE_CONF_COUNTS}},
        {"bosman absent, other sites fine", SITE_BOSMAN_YEAR, SAMPLE_ABSENT,
         request([](patch_request &q) { set(q.exit_fix, 1); set(q.bosman_year, 2010); }),
         {REQUEST_SITE_ABSENT, SITE_BOSMAN_YEAR}},
        {"installed fix before 2003", SITE_WC06_FIX, SAMPLE_PATCHED,
         request([](patch_request &q) { set(q.start_year, 2002); q.wc06 = 1; }),
         {REQUEST_WC06_ORIGINAL_UNKNOWN, SITE_WC06_FIX}},
        {"installed fix from 2003", SITE_WC06_FIX, SAMPLE_PATCHED,
         request([](patch_request &q) { set(q.start_year, 2003); q.wc06 = 1; }), {REQUEST_OK, -1}},
        {"game's fix before 2003", SITE_WC06_FIX, SAMPLE_GAME,
         request([](patch_request &q) { set(q.start_year, 2002); q.wc06 = 1; }), {REQUEST_OK, -1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        sample_spec spec;
        sample_defaults(&spec, 1 << 18);
        spec.site[c.site].state = c.state;
        scan_image(spec);
        patch_target plan;
        request_outcome o = patch_request_plan(&c.r, scanned, &plan);
        EXPECT_EQ(o.result, c.expected.result);
        EXPECT_EQ(o.site, c.expected.site);
    }
}

TEST_F(patch_request_file, verify_catches_each_site_that_reads_back_wrong)
{
    sample_spec spec;
    sample_defaults(&spec, 1 << 18);
    scan_image(spec);
    patch_request r = request([](patch_request &q) {
        set(q.start_year, 2006);
        q.wc06 = 1;
        set(q.bosman_year, 2004);
        set(q.click_delay, 3);
        set(q.exit_fix, 1);
        set(q.promoted, 4);
        set(q.relegated, 2);
    });
    patch_target plan;
    ASSERT_EQ(patch_request_plan(&r, scanned, &plan).result, REQUEST_OK);
    ASSERT_EQ(apply_patches(&plan), APPLY_OK);

    patch_target *after = nullptr;
    ASSERT_EQ(scan_file(path.c_str(), &after), REQUEST_OK);
    EXPECT_EQ(patch_request_verify(&plan, after).result, REQUEST_OK);

    const struct {
        const char *what;
        std::function<void(patch_target &)> spoil;
        int site;
    } cases[] = {
        {"length", [](patch_target &t) { t.file_size += 1; }, -1},
        {"start year", [](patch_target &t) { t.start_year = 2005; }, SITE_START_YEAR},
        {"start year moved", [](patch_target &t) { t.start_year_ofs += 1; }, SITE_START_YEAR},
        {"wc06", [](patch_target &t) { t.wc06_installed = 0; }, SITE_WC06_FIX},
        {"bosman", [](patch_target &t) { t.bosman_year = 2003; }, SITE_BOSMAN_YEAR},
        {"delay", [](patch_target &t) { t.click_delay = -1; }, SITE_CLICK_DELAY},
        {"exit", [](patch_target &t) { t.exitgame_installed = 0; }, SITE_EXITGAME},
        {"exit absent", [](patch_target &t) { t.exitgame_ofs = -1; }, SITE_EXITGAME},
        {"promoted", [](patch_target &t) { t.promoted = 5; }, SITE_CONF_PROMOTED},
        {"relegated", [](patch_target &t) { t.relegated = 3; }, SITE_CONF_COUNTS},
        {"conference absent", [](patch_target &t) { t.conf_counts_ofs = -1; }, SITE_CONF_COUNTS},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        patch_target spoilt = *after;
        c.spoil(spoilt);
        request_outcome o = patch_request_verify(&plan, &spoilt);
        EXPECT_EQ(o.result, REQUEST_VERIFY_FAILED);
        EXPECT_EQ(o.site, c.site);
    }

    // The conference variant is told by byte 0 in the file: a plan for the
    // game's code must not pass on our block holding the same counts 1 and 3.
    patch_target original = plan;
    original.touch_conference = 0;
    original.promoted = 1;
    original.relegated = 3;
    patch_target same_counts = *after;
    same_counts.promoted = 1;
    same_counts.relegated = 3;
    EXPECT_EQ(patch_request_verify(&original, &same_counts).result, REQUEST_VERIFY_FAILED);
    close_target(after);
}

TEST_F(patch_request_file, backup_copies_once_and_never_overwrites)
{
    const bytes data = {1, 2, 3, 0, 0xff, 4};
    ASSERT_TRUE(write_file(path, data));
    const std::string bak = path + ".bak";

    EXPECT_EQ(backup_file(path.c_str()), REQUEST_OK);
    EXPECT_EQ(read_file(bak), data);

    ASSERT_TRUE(write_file(path, bytes{9, 9}));
    EXPECT_EQ(backup_file(path.c_str()), REQUEST_BACKUP_EXISTS);
    EXPECT_EQ(read_file(bak), data) << "the first backup is kept";

    const std::string missing = dir + "/missing.exe";
    EXPECT_EQ(backup_file(missing.c_str()), REQUEST_BACKUP_FAILED);
    struct stat st;
    EXPECT_NE(stat((missing + ".bak").c_str(), &st), 0) << "no backup of nothing";
}

TEST_F(patch_request_file, scan_file_refuses_what_is_no_executable)
{
    patch_target *t = nullptr;
    EXPECT_EQ(scan_file((dir + "/missing").c_str(), &t), REQUEST_OPEN_FAILED);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(scan_file(dir.c_str(), &t), REQUEST_OPEN_FAILED);
    ASSERT_TRUE(write_file(path, bytes{}));
    EXPECT_EQ(scan_file(path.c_str(), &t), REQUEST_EMPTY_FILE);
    EXPECT_EQ(t, nullptr);
}

} // namespace
