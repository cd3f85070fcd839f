#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/stat.h>

#include "patch/patch_target.h"
#include "test_files.h"
#include "tools/sample_image.h"

namespace {

// The fields a scan fills in, for comparing whole records at once.
struct scan_view {
    int32_t start_year_ofs, start_year, wc06_ofs, wc06_installed, bosman_year_ofs, bosman_year;
    int32_t click_delay_ofs, click_delay, exitgame_ofs, exitgame_installed;
    int32_t conf_counts_ofs, conf_promoted_ofs, promoted, relegated, touch_conference;
    bool operator==(const scan_view &) const = default;
};

void PrintTo(const scan_view &v, std::ostream *os)
{
    *os << "{start " << v.start_year_ofs << "/" << v.start_year << ", wc06 " << v.wc06_ofs << "/"
        << v.wc06_installed << ", bosman " << v.bosman_year_ofs << "/" << v.bosman_year << ", click "
        << v.click_delay_ofs << "/" << v.click_delay << ", exit " << v.exitgame_ofs << "/"
        << v.exitgame_installed << ", conf " << v.conf_counts_ofs << "/" << v.conf_promoted_ofs << " "
        << v.promoted << "/" << v.relegated << ", touch " << v.touch_conference << "}";
}

scan_view view(const patch_target *t)
{
    return {t->start_year_ofs, t->start_year, t->wc06_ofs, t->wc06_installed, t->bosman_year_ofs,
            t->bosman_year, t->click_delay_ofs, t->click_delay, t->exitgame_ofs, t->exitgame_installed,
            t->conf_counts_ofs, t->conf_promoted_ofs, t->promoted, t->relegated, t->touch_conference};
}

const scan_view defaults = {-1, 0, -1, 0, -1, 0, -1, -1, -1, 0, -1, -1, 1, 3, 0};

struct scanned {
    scan_view v;
    std::string diagnostics;
    sample_recipe placed;
    bytes wc06_original;
};

int32_t site_ofs(const sample_recipe &placed, site_id id)
{
    return static_cast<int32_t>(placed.site[id].at + patch_catalogue[id].sig_len);
}

scanned scan_sample(const sample_recipe &recipe)
{
    scanned s{};
    EXPECT_EQ(sample_layout(&recipe, &s.placed), 0);
    std::string path = scratch_path("image");
    EXPECT_EQ(sample_write(path.c_str(), &recipe), 0);
    patch_target *t = open_target(path.c_str());
    EXPECT_NE(t, nullptr);
    if (t == nullptr)
        return s;
    std::FILE *log = std::tmpfile();
    scan_diagnostics = log;
    scan_target(t);
    scan_diagnostics = nullptr;
    std::rewind(log);
    char line[200];
    while (std::fgets(line, sizeof line, log) != nullptr)
        s.diagnostics += line;
    std::fclose(log);
    s.v = view(t);
    if (t->wc06_original_known)
        s.wc06_original.assign(t->wc06_original, t->wc06_original + WC06_BLOCK_LEN);
    close_target(t);
    return s;
}

// What a scan of an image with every site in the game's state reads.
scan_view all_game(const sample_recipe &placed)
{
    scan_view v = defaults;
    v.start_year_ofs = site_ofs(placed, SITE_START_YEAR);
    v.start_year = placed.site[SITE_START_YEAR].param;
    v.wc06_ofs = site_ofs(placed, SITE_WC06_FIX);
    v.bosman_year_ofs = site_ofs(placed, SITE_BOSMAN_YEAR);
    v.bosman_year = placed.site[SITE_BOSMAN_YEAR].param;
    v.click_delay_ofs = site_ofs(placed, SITE_CLICK_DELAY);
    v.exitgame_ofs = site_ofs(placed, SITE_EXITGAME);
    v.conf_counts_ofs = site_ofs(placed, SITE_CONF_COUNTS);
    v.conf_promoted_ofs = site_ofs(placed, SITE_CONF_PROMOTED);
    return v;
}

TEST(scan_target, no_site_found_keeps_every_default)
{
    sample_recipe recipe;
    sample_defaults(&recipe, 300000);
    for (sample_site &s : recipe.site)
        s.state = SAMPLE_ABSENT;
    scanned s = scan_sample(recipe);
    EXPECT_EQ(s.v, defaults);
    EXPECT_EQ(s.diagnostics, "exitgame: ofs = -1, ofs2 = -1\n");
}

TEST(scan_target, game_image_reads_every_site_and_keeps_the_wc06_block)
{
    sample_recipe recipe;
    sample_defaults(&recipe, 300000);
    scanned s = scan_sample(recipe);
    EXPECT_EQ(s.v, all_game(s.placed));
    EXPECT_EQ(s.diagnostics, "");
    bytes expected(patch_catalogue[SITE_WC06_FIX].unpatched, patch_catalogue[SITE_WC06_FIX].unpatched + 64);
    expected.insert(expected.end(), sample_wc06_tail(), sample_wc06_tail() + 46);
    EXPECT_EQ(s.wc06_original, expected);
}

struct scan_case {
    const char *what;
    std::function<void(sample_recipe &)> make;
    std::function<void(scan_view &, const sample_recipe &placed)> expect;
    const char *diagnostics;
};

void set(sample_recipe &recipe, site_id id, sample_state state, int32_t param = 0, int32_t param2 = 0)
{
    recipe.site[id].state = state;
    recipe.site[id].param = param;
    recipe.site[id].param2 = param2;
}

const scan_case scan_cases[] = {
    {"years are read raw: 1A 08 and 0D 0A",
     [](sample_recipe &s) { s.site[SITE_START_YEAR].param = 0x081a; s.site[SITE_BOSMAN_YEAR].param = 0x0a0d; },
     [](scan_view &v, const sample_recipe &) { v.start_year = 2074; v.bosman_year = 2573; }, ""},
    {"a year signature present twice is absent",
     [](sample_recipe &s) { set(s, SITE_START_YEAR, SAMPLE_DUPLICATED, 2001); },
     [](scan_view &v, const sample_recipe &) { v.start_year_ofs = -1; v.start_year = 0; }, ""},
    {"wc06 fix installed",
     [](sample_recipe &s) { set(s, SITE_WC06_FIX, SAMPLE_PATCHED); },
     [](scan_view &v, const sample_recipe &) { v.wc06_installed = 1; }, ""},
    {"wc06 block unrecognised",
     [](sample_recipe &s) { set(s, SITE_WC06_FIX, SAMPLE_UNRECOGNISED); s.site[SITE_WC06_FIX].first_byte = 0x90; },
     [](scan_view &v, const sample_recipe &) { v.wc06_ofs = -1; }, ""},
    {"click delay 6 installed",
     [](sample_recipe &s) { set(s, SITE_CLICK_DELAY, SAMPLE_PATCHED, 6); },
     [](scan_view &v, const sample_recipe &) { v.click_delay = 6; }, ""},
    {"click delay 1 installed",
     [](sample_recipe &s) { set(s, SITE_CLICK_DELAY, SAMPLE_PATCHED, 1); },
     [](scan_view &v, const sample_recipe &) { v.click_delay = 1; }, ""},
    {"our click block with delay 0 stays present as -2",
     [](sample_recipe &s) { set(s, SITE_CLICK_DELAY, SAMPLE_PATCHED, 0); },
     [](scan_view &v, const sample_recipe &) { v.click_delay = -2; }, ""},
    {"our click block with delay 7 stays present as -2",
     [](sample_recipe &s) { set(s, SITE_CLICK_DELAY, SAMPLE_PATCHED, 7); },
     [](scan_view &v, const sample_recipe &) { v.click_delay = -2; }, ""},
    {"unknown code at the click site is absent",
     [](sample_recipe &s) { set(s, SITE_CLICK_DELAY, SAMPLE_UNRECOGNISED); s.site[SITE_CLICK_DELAY].first_byte = 0x33; },
     [](scan_view &v, const sample_recipe &) { v.click_delay_ofs = -1; v.click_delay = -2; }, ""},
    {"exit fix installed",
     [](sample_recipe &s) { set(s, SITE_EXITGAME, SAMPLE_PATCHED); },
     [](scan_view &v, const sample_recipe &) { v.exitgame_installed = 1; }, ""},
    {"exit block unrecognised prints its first byte",
     [](sample_recipe &s) { set(s, SITE_EXITGAME, SAMPLE_UNRECOGNISED); s.site[SITE_EXITGAME].first_byte = 0x5a; },
     [](scan_view &v, const sample_recipe &) { v.exitgame_ofs = -1; }, "First byte after exit fix is 5A\n"},
    {"exit signature twice prints both offsets",
     [](sample_recipe &s) { set(s, SITE_EXITGAME, SAMPLE_DUPLICATED); s.site[SITE_EXITGAME].at = 1000; s.site[SITE_EXITGAME].at2 = 70000; },
     [](scan_view &v, const sample_recipe &) { v.exitgame_ofs = -1; }, "exitgame: ofs = 1000, ofs2 = 70000\n"},
    {"both conference blocks patched agreeing on 7",
     [](sample_recipe &s) { set(s, SITE_CONF_COUNTS, SAMPLE_PATCHED, 7, 5); set(s, SITE_CONF_PROMOTED, SAMPLE_PATCHED, 7); },
     [](scan_view &v, const sample_recipe &) { v.promoted = 7; v.relegated = 5; }, ""},
    {"patched relegated byte is taken whatever it is",
     [](sample_recipe &s) { set(s, SITE_CONF_COUNTS, SAMPLE_PATCHED, 2, 200); set(s, SITE_CONF_PROMOTED, SAMPLE_PATCHED, 2); },
     [](scan_view &v, const sample_recipe &) { v.promoted = 2; v.relegated = -56; }, ""},
    {"promoted count 0 in the counts block: both absent",
     [](sample_recipe &s) { set(s, SITE_CONF_COUNTS, SAMPLE_PATCHED, 0, 3); set(s, SITE_CONF_PROMOTED, SAMPLE_PATCHED, 0); },
     [](scan_view &v, const sample_recipe &) { v.conf_counts_ofs = v.conf_promoted_ofs = -1; }, ""},
    {"promoted count 8 in the counts block: both absent",
     [](sample_recipe &s) { set(s, SITE_CONF_COUNTS, SAMPLE_PATCHED, 8, 3); set(s, SITE_CONF_PROMOTED, SAMPLE_PATCHED, 8); },
     [](scan_view &v, const sample_recipe &) { v.conf_counts_ofs = v.conf_promoted_ofs = -1; }, ""},
    {"blocks disagreeing on the promoted count: both absent",
     [](sample_recipe &s) { set(s, SITE_CONF_COUNTS, SAMPLE_PATCHED, 4, 3); set(s, SITE_CONF_PROMOTED, SAMPLE_PATCHED, 5); },
     [](scan_view &v, const sample_recipe &) { v.conf_counts_ofs = v.conf_promoted_ofs = -1; v.promoted = 4; }, ""},
    {"patched counts next to the game's promoted block: both present, no agreement check",
     [](sample_recipe &s) { set(s, SITE_CONF_COUNTS, SAMPLE_PATCHED, 6, 2); },
     [](scan_view &v, const sample_recipe &) { v.relegated = 2; }, ""},
    {"game's counts next to a patched promoted block: both absent",
     [](sample_recipe &s) { set(s, SITE_CONF_PROMOTED, SAMPLE_PATCHED, 1); },
     [](scan_view &v, const sample_recipe &) { v.conf_counts_ofs = v.conf_promoted_ofs = -1; }, ""},
    {"counts found, promoted block absent: both absent",
     [](sample_recipe &s) { set(s, SITE_CONF_PROMOTED, SAMPLE_ABSENT); },
     [](scan_view &v, const sample_recipe &) { v.conf_counts_ofs = v.conf_promoted_ofs = -1; }, ""},
    {"promoted block unrecognised: both absent",
     [](sample_recipe &s) { set(s, SITE_CONF_PROMOTED, SAMPLE_UNRECOGNISED); s.site[SITE_CONF_PROMOTED].first_byte = 0x89; },
     [](scan_view &v, const sample_recipe &) { v.conf_counts_ofs = v.conf_promoted_ofs = -1; }, ""},
    {"counts block unrecognised, promoted block the game's: only counts absent",
     [](sample_recipe &s) { set(s, SITE_CONF_COUNTS, SAMPLE_UNRECOGNISED); s.site[SITE_CONF_COUNTS].first_byte = 0x89; },
     [](scan_view &v, const sample_recipe &) { v.conf_counts_ofs = -1; }, ""},
};

TEST(scan_target, classifies_each_site_state)
{
    for (const scan_case &c : scan_cases) {
        SCOPED_TRACE(c.what);
        sample_recipe recipe;
        sample_defaults(&recipe, 300000);
        c.make(recipe);
        scanned s = scan_sample(recipe);
        scan_view expected = all_game(s.placed);
        c.expect(expected, s.placed);
        EXPECT_EQ(s.v, expected);
        EXPECT_EQ(s.diagnostics, c.diagnostics);
    }
}

// A value or block cut off by the end of the file is never taken: writing it
// would grow the file.
TEST(scan_target, a_site_cut_off_by_the_end_of_the_file_is_absent)
{
    for (int id = 0; id < SITE_COUNT; ++id) {
        SCOPED_TRACE(patch_catalogue[id].name);
        sample_recipe recipe;
        sample_defaults(&recipe, 300000);
        recipe.site[id].state = SAMPLE_TRUNCATED;
        scanned s = scan_sample(recipe);
        scan_view expected = all_game(s.placed);
        int32_t *ofs[SITE_COUNT] = {&expected.start_year_ofs, &expected.wc06_ofs, &expected.bosman_year_ofs,
                                    &expected.click_delay_ofs, &expected.exitgame_ofs,
                                    &expected.conf_counts_ofs, &expected.conf_promoted_ofs};
        *ofs[id] = -1;
        if (id == SITE_START_YEAR)
            expected.start_year = 0;
        if (id == SITE_BOSMAN_YEAR)
            expected.bosman_year = 0;
        if (id == SITE_CONF_PROMOTED)
            expected.conf_counts_ofs = -1;
        EXPECT_EQ(s.v, expected);
    }
}

TEST(open_target, refuses_what_is_no_readable_file)
{
    EXPECT_EQ(open_target(scratch_path("missing").c_str()), nullptr);
    std::string dir = scratch_path("folder");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    EXPECT_EQ(open_target(dir.c_str()), nullptr);
    rmdir(dir.c_str());
    EXPECT_EQ(open_target("/dev/zero"), nullptr);
}

TEST(open_target, keeps_its_own_copy_of_the_path)
{
    std::string path = scratch_path("empty");
    ASSERT_TRUE(write_file(path, bytes{}));
    std::string given = path;
    patch_target *t = open_target(given.c_str());
    ASSERT_NE(t, nullptr);
    given.assign(given.size(), 'x');
    EXPECT_EQ(std::string(t->path), path);
    scan_target(t);
    EXPECT_EQ(t->file_size, 0);
    EXPECT_EQ(view(t), defaults);
    close_target(t);
}

} // namespace
