// What the command-line tests cannot reach: the read-back check on files
// that changed under it, the result table, and the backup copy on its own.
// Refused requests and plans are covered through the tool itself.

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

TEST(patch_request_results, every_result_has_a_message_and_a_kind)
{
    for (int r = REQUEST_OK; r <= REQUEST_VERIFY_FAILED; ++r) {
        SCOPED_TRACE(r);
        EXPECT_STRNE(request_result_message(r), "unknown result");
        result_kind expected = r == REQUEST_OK                      ? RESULT_KIND_OK
                               : r < REQUEST_SITE_ABSENT            ? RESULT_KIND_USAGE
                               : r <= REQUEST_SITES_CLASH         ? RESULT_KIND_SITE
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
    void scan_image(const sample_recipe &recipe)
    {
        ASSERT_TRUE(make_image(path, recipe));
        close_target(scanned);
        scanned = nullptr;
        ASSERT_EQ(scan_file(path.c_str(), &scanned), REQUEST_OK);
    }

    std::string dir;
    std::string path;
    patch_target *scanned = nullptr;
};

TEST_F(patch_request_file, verify_catches_each_site_that_reads_back_wrong)
{
    sample_recipe recipe;
    sample_defaults(&recipe, 1 << 18);
    scan_image(recipe);
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

} // namespace
