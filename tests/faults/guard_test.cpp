// Sites that share bytes, and writes that would make, break or overlap a
// site: a later scan must find every site where it was, so such files and
// writes are refused before anything is written.

#include <cstring>
#include <functional>

#include "fault_support.h"
#include "patch/apply_patches.h"
#include "patch/patch_target.h"
#include "tools/sample_image.h"

namespace {

struct image_file {
    std::string path;
    bytes data;
    sample_recipe placed;
};

// A game image with `change` applied to its bytes; sites placed as in `placed`.
image_file game_file(const std::function<void(sample_recipe &)> &make, const std::function<void(image_file &)> &change)
{
    image_file f{scratch_dir() + "/GAME.EXE", {}, {}};
    sample_recipe recipe;
    sample_defaults(&recipe, 100000);
    if (make)
        make(recipe);
    EXPECT_EQ(sample_layout(&recipe, &f.placed), 0);
    EXPECT_EQ(sample_write(f.path.c_str(), &recipe), 0);
    f.data = read_file(f.path);
    if (change)
        change(f);
    EXPECT_TRUE(write_file(f.path, f.data));
    return f;
}

int64_t site_at(const image_file &f, site_id id)
{
    return f.placed.site[id].at + patch_catalogue[id].sig_len;
}

void put(image_file &f, int64_t at, const uint8_t *data, std::size_t n)
{
    std::memcpy(f.data.data() + at, data, n);
}

void put_sig(image_file &f, int64_t at, site_id id)
{
    put(f, at, patch_catalogue[id].sig, static_cast<std::size_t>(patch_catalogue[id].sig_len));
}

patch_target *scanned(const image_file &f)
{
    patch_target *t = open_target(f.path.c_str());
    EXPECT_NE(t, nullptr);
    if (t != nullptr)
        scan_target(t);
    return t;
}

TEST(overlapping_sites, are_both_absent_and_neighbours_are_not)
{
    struct overlap_case {
        const char *what;
        std::function<void(sample_recipe &)> make;
        std::function<void(image_file &)> change;
        bool wc06, start, bosman, click;  // present afterwards
    };
    const overlap_case cases[] = {
        {"a Bosman year site inside the game's wc06_fix block",
         [](sample_recipe &s) { s.site[SITE_BOSMAN_YEAR].state = SAMPLE_ABSENT; },
         [](image_file &f) { put_sig(f, site_at(f, SITE_WC06_FIX) + 70, SITE_BOSMAN_YEAR); }, false, true, false,
         true},
        {"a start year signature over the last bytes of the click delay block",
         [](sample_recipe &s) { s.site[SITE_START_YEAR].state = SAMPLE_ABSENT; },
         [](image_file &f) { put_sig(f, site_at(f, SITE_CLICK_DELAY) + 25, SITE_START_YEAR); }, true, false, true,
         false},
        {"a start year signature right after the click delay block",
         [](sample_recipe &s) { s.site[SITE_START_YEAR].state = SAMPLE_ABSENT; },
         [](image_file &f) { put_sig(f, site_at(f, SITE_CLICK_DELAY) + 29, SITE_START_YEAR); }, true, true, true,
         true},
    };
    for (const overlap_case &c : cases) {
        SCOPED_TRACE(c.what);
        image_file f = AT_CALLER(game_file(c.make, c.change));
        patch_target *t = AT_CALLER(scanned(f));
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->wc06_ofs > 0, c.wc06);
        EXPECT_EQ(t->start_year_ofs > 0, c.start);
        EXPECT_EQ(t->bosman_year_ofs > 0, c.bosman);
        EXPECT_EQ(t->click_delay_ofs > 0, c.click);
        EXPECT_GT(t->exitgame_ofs, 0) << "a site far away was dropped too";
        close_target(t);
    }
}

// The writes a test asks for, on a scanned game image; every other site -1.
struct write_case {
    const char *what;
    std::function<void(image_file &)> change;  // to the image before the scan
    std::function<void(patch_target *)> choose;
    int result;
};

void leave_all(patch_target *t)
{
    t->click_delay_ofs = t->bosman_year_ofs = t->start_year_ofs = t->wc06_ofs = -1;
    t->exitgame_ofs = t->conf_promoted_ofs = t->conf_counts_ofs = -1;
}

TEST(site_changing_writes, are_refused_and_nothing_is_written)
{
    const uint8_t year_tail[] = {0xff, 0x33, 0xdb, 0x68};   // with a year 0x6a?? : 6a ff 33 db 68
    const uint8_t after_exit[] = {0x00, 0x89, 0x8c, 0x24, 0xb0, 0x00, 0x00, 0x00};  // 00 + this: wc06_fix's
    const write_case cases[] = {
        {"a start year whose high byte begins a second start year signature",
         [&](image_file &f) { put(f, site_at(f, SITE_START_YEAR) + 2, year_tail, sizeof year_tail); },
         [](patch_target *t) {
             int32_t ofs = t->start_year_ofs;
             leave_all(t);
             t->start_year_ofs = ofs;
             t->start_year = 0x6a00;
         },
         RESULT_SITES_CLASH},
        {"a harmless start year next to the same bytes",
         [&](image_file &f) { put(f, site_at(f, SITE_START_YEAR) + 2, year_tail, sizeof year_tail); },
         [](patch_target *t) {
             int32_t ofs = t->start_year_ofs;
             leave_all(t);
             t->start_year_ofs = ofs;
             t->start_year = 2010;
         },
         RESULT_OK},
        {"the exit fix, whose last byte would complete a second wc06_fix signature",
         [&](image_file &f) { put(f, site_at(f, SITE_EXITGAME) + 5, after_exit, sizeof after_exit); },
         [](patch_target *t) {
             int32_t ofs = t->exitgame_ofs;
             leave_all(t);
             t->exitgame_ofs = ofs;
             t->exitgame_installed = 1;
         },
         RESULT_SITES_CLASH},
        {"a Bosman year offset moved onto the start year site",
         nullptr,
         [](patch_target *t) {
             int32_t ofs = t->start_year_ofs;
             leave_all(t);
             t->start_year_ofs = ofs;
             t->start_year = 2010;
             t->bosman_year_ofs = ofs;  // no Bosman signature before it
             t->bosman_year = 2011;
         },
         RESULT_FILE_CHANGED},
    };
    for (const write_case &c : cases) {
        SCOPED_TRACE(c.what);
        image_file f = AT_CALLER(game_file(nullptr, c.change));
        patch_target *t = AT_CALLER(scanned(f));
        ASSERT_NE(t, nullptr);
        ASSERT_GT(t->start_year_ofs, 0);
        c.choose(t);
        EXPECT_EQ(apply_patches(t), c.result);
        bytes after = read_file(f.path);
        if (c.result == RESULT_OK)
            EXPECT_NE(after, f.data);
        else
            EXPECT_EQ(after, f.data);
        close_target(t);
    }
}

// Offsets put together by hand rather than by a scan, each in front of its
// own signature, but one block over the other.
TEST(site_changing_writes, overlapping_writes_are_refused)
{
    image_file f = AT_CALLER(game_file([](sample_recipe &s) { s.site[SITE_BOSMAN_YEAR].state = SAMPLE_ABSENT; },
                             [](image_file &img) { put_sig(img, site_at(img, SITE_WC06_FIX) + 70, SITE_BOSMAN_YEAR); }));
    patch_target *t = AT_CALLER(scanned(f));
    ASSERT_NE(t, nullptr);
    leave_all(t);
    t->start_year_ofs = static_cast<int32_t>(site_at(f, SITE_START_YEAR));
    t->start_year = 2010;
    t->wc06_ofs = static_cast<int32_t>(site_at(f, SITE_WC06_FIX));
    t->bosman_year_ofs = static_cast<int32_t>(site_at(f, SITE_WC06_FIX) + 70 + 21);
    t->bosman_year = 2011;
    EXPECT_EQ(apply_patches(t), RESULT_SITES_CLASH);
    EXPECT_EQ(read_file(f.path), f.data);
    close_target(t);
}

} // namespace
