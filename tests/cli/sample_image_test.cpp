// The sample maker's promises: exact size, each placed signature exactly once
// where it was put, the chosen block behind it, and no signature anywhere else.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

class sample_image : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = make_temp_dir();
        ASSERT_FALSE(dir.empty());
        path = dir + "/ZANDOR.EXE";
    }
    void TearDown() override { remove_tree(dir); }

    std::string dir;
    std::string path;
};

// Block bytes behind a site's signature in the file.
bytes block_at(const bytes &data, site_id site, int64_t sig_at)
{
    const site_entry &e = patch_catalogue[site];
    auto from = data.begin() + sig_at + e.sig_len;
    return bytes(from, from + e.block_len);
}

// Every site of `placed` sits once at its offset (twice when duplicated),
// and absent sites nowhere.
void expect_sites_where_placed(const bytes &data, const sample_recipe &placed)
{
    for (int i = 0; i < SITE_COUNT; ++i) {
        SCOPED_TRACE(patch_catalogue[i].name);
        const sample_site &s = placed.site[i];
        std::vector<int64_t> hits = find_site(data, static_cast<site_id>(i));
        if (s.state == SAMPLE_ABSENT)
            EXPECT_TRUE(hits.empty());
        else if (s.state == SAMPLE_DUPLICATED)
            EXPECT_EQ(hits, (std::vector<int64_t>{std::min(s.at, s.at2), std::max(s.at, s.at2)}));
        else
            EXPECT_EQ(hits, std::vector<int64_t>{s.at});
    }
}

TEST_F(sample_image, default_image_holds_every_site_once_for_many_seeds)
{
    const struct {
        int64_t size;
        uint32_t seed;
    } cases[] = {{4096, 0}, {4096, 7}, {1 << 20, 1}, {1 << 20, 99}, {(1 << 20) + 13, 12345},
                 {8 << 20, 0xdeadbeef}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size << " seed " << c.seed);
        sample_recipe recipe;
        sample_defaults(&recipe, c.size);
        recipe.seed = c.seed;
        sample_recipe placed;
        ASSERT_TRUE(make_image(path, recipe, &placed));
        bytes data = read_file(path);
        ASSERT_EQ(static_cast<int64_t>(data.size()), c.size);
        expect_sites_where_placed(data, placed);

        // The game's code behind each block site, the years behind the year sites.
        for (int i = 0; i < SITE_COUNT; ++i) {
            const site_entry &e = patch_catalogue[i];
            bytes block = block_at(data, static_cast<site_id>(i), placed.site[i].at);
            if (e.kind == SITE_KIND_BLOCK) {
                EXPECT_EQ(0, std::memcmp(block.data(), e.unpatched, static_cast<size_t>(e.unpatched_known)))
                    << e.name;
            }
        }
        int64_t sy = placed.site[SITE_START_YEAR].at + 5;
        EXPECT_EQ((bytes{data.begin() + sy, data.begin() + sy + 4}), (bytes{0xd1, 0x07, 0, 0}));
    }
}

TEST_F(sample_image, all_absent_leaves_no_signature_in_the_filler)
{
    for (uint32_t seed = 0; seed < 6; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        sample_recipe recipe;
        sample_defaults(&recipe, 2 << 20);
        recipe.seed = seed;
        for (sample_site &s : recipe.site)
            s.state = SAMPLE_ABSENT;
        ASSERT_TRUE(make_image(path, recipe));
        bytes data = read_file(path);
        ASSERT_EQ(data.size(), size_t{2} << 20);
        for (int i = 0; i < SITE_COUNT; ++i)
            EXPECT_TRUE(find_site(data, static_cast<site_id>(i)).empty()) << patch_catalogue[i].name;
    }
}

TEST_F(sample_image, sites_land_exactly_at_chosen_offsets_across_window_edges)
{
    constexpr int64_t W = 65536;
    const struct {
        site_id site;
        int64_t at;
    } cases[] = {
        {SITE_START_YEAR, 0},          {SITE_START_YEAR, W - 1},       {SITE_START_YEAR, W},
        {SITE_START_YEAR, W + 1},      {SITE_BOSMAN_YEAR, W - 21},     {SITE_BOSMAN_YEAR, W - 20},
        {SITE_CONF_PROMOTED, W - 65},  {SITE_CONF_PROMOTED, W - 64},   {SITE_CONF_PROMOTED, 2 * W + 1},
        {SITE_WC06_FIX, W - 9 - 110},  {SITE_EXITGAME, 3 * W - 25 - 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << patch_catalogue[c.site].name << " at " << c.at);
        sample_recipe recipe;
        sample_defaults(&recipe, 4 * W);
        recipe.site[c.site].at = c.at;
        sample_recipe placed;
        ASSERT_TRUE(make_image(path, recipe, &placed));
        EXPECT_EQ(placed.site[c.site].at, c.at);
        bytes data = read_file(path);
        ASSERT_EQ(static_cast<int64_t>(data.size()), 4 * W);
        expect_sites_where_placed(data, placed);
    }
}

TEST_F(sample_image, block_states_carry_their_bytes)
{
    sample_recipe recipe;
    sample_defaults(&recipe, 1 << 20);
    recipe.site[SITE_START_YEAR].param = 0x0a0d;
    recipe.site[SITE_BOSMAN_YEAR].state = SAMPLE_PATCHED;
    recipe.site[SITE_BOSMAN_YEAR].param = 2074;
    recipe.site[SITE_CLICK_DELAY].state = SAMPLE_PATCHED;
    recipe.site[SITE_CLICK_DELAY].param = 6;
    recipe.site[SITE_CONF_COUNTS].state = SAMPLE_PATCHED;
    recipe.site[SITE_CONF_COUNTS].param = 7;
    recipe.site[SITE_CONF_COUNTS].param2 = 0;
    recipe.site[SITE_CONF_PROMOTED].state = SAMPLE_PATCHED;
    recipe.site[SITE_CONF_PROMOTED].param = 7;
    recipe.site[SITE_EXITGAME].state = SAMPLE_UNRECOGNISED;
    recipe.site[SITE_EXITGAME].first_byte = 0x12;
    sample_recipe placed;
    ASSERT_TRUE(make_image(path, recipe, &placed));
    bytes data = read_file(path);
    expect_sites_where_placed(data, placed);
    auto block = [&](site_id s) { return block_at(data, s, placed.site[s].at); };

    EXPECT_EQ(block(SITE_START_YEAR), (bytes{0x0d, 0x0a}));
    EXPECT_EQ(block(SITE_BOSMAN_YEAR), (bytes{0x1a, 0x08}));

    bytes delay = block(SITE_CLICK_DELAY);
    bytes expected_delay(patch_catalogue[SITE_CLICK_DELAY].patched,
                         patch_catalogue[SITE_CLICK_DELAY].patched + 29);
    expected_delay[CLICK_DELAY_PARAM_POS] = 6;
    EXPECT_EQ(delay, expected_delay);

    bytes counts = block(SITE_CONF_COUNTS);
    EXPECT_EQ(counts[0], 0xc7);
    EXPECT_EQ(counts[CONF_COUNTS_PROMOTED_POS], 7);
    EXPECT_EQ(counts[CONF_COUNTS_RELEGATED_POS], 0);
    bytes promoted = block(SITE_CONF_PROMOTED);
    EXPECT_EQ(promoted[0], 0xc7);
    EXPECT_EQ(promoted[CONF_PROMOTED_PARAM_POS], 7);

    bytes exitgame = block(SITE_EXITGAME);
    EXPECT_EQ(exitgame, (bytes{0x12, 0x8c, 0x24, 0x18, 0x01}));

    bytes wc06 = block(SITE_WC06_FIX);
    EXPECT_EQ(0, std::memcmp(wc06.data(), patch_catalogue[SITE_WC06_FIX].unpatched, 64));
    EXPECT_EQ(0, std::memcmp(wc06.data() + 64, sample_wc06_tail(), 46));
}

TEST_F(sample_image, duplicated_and_truncated_sites)
{
    sample_recipe recipe;
    sample_defaults(&recipe, 1 << 20);
    recipe.site[SITE_EXITGAME].state = SAMPLE_DUPLICATED;
    recipe.site[SITE_CLICK_DELAY].state = SAMPLE_DUPLICATED;
    recipe.site[SITE_CLICK_DELAY].at = 1000;
    recipe.site[SITE_CLICK_DELAY].at2 = 2000;
    recipe.site[SITE_CONF_COUNTS].state = SAMPLE_TRUNCATED;
    sample_recipe placed;
    ASSERT_TRUE(make_image(path, recipe, &placed));
    bytes data = read_file(path);
    ASSERT_EQ(data.size(), size_t{1} << 20);
    expect_sites_where_placed(data, placed);
    EXPECT_NE(placed.site[SITE_EXITGAME].at2, -1);

    int64_t cut = placed.site[SITE_CONF_COUNTS].at + 63;
    EXPECT_LT(cut, static_cast<int64_t>(data.size()));
    EXPECT_GT(cut + 24, static_cast<int64_t>(data.size()));
}

TEST_F(sample_image, impossible_layouts_are_refused)
{
    auto with = [](auto change) {
        sample_recipe recipe;
        sample_defaults(&recipe, 1 << 16);
        change(recipe);
        return recipe;
    };
    const struct {
        const char *what;
        sample_recipe recipe;
    } cases[] = {
        {"overlapping sites", with([](sample_recipe &s) {
             s.site[SITE_START_YEAR].at = 100;
             s.site[SITE_BOSMAN_YEAR].at = 104;
         })},
        {"past the end", with([](sample_recipe &s) { s.site[SITE_EXITGAME].at = (1 << 16) - 29; })},
        {"negative offset", with([](sample_recipe &s) { s.site[SITE_EXITGAME].at = -5; })},
        {"negative size", with([](sample_recipe &s) { s.size = -1; })},
        {"too small for all sites", with([](sample_recipe &s) { s.size = 300; })},
        {"an unrecognised year", with([](sample_recipe &s) { s.site[SITE_START_YEAR].state = SAMPLE_UNRECOGNISED; })},
        {"truncated with room for its block", with([](sample_recipe &s) {
             s.site[SITE_EXITGAME].state = SAMPLE_TRUNCATED;
             s.site[SITE_EXITGAME].at = 100;
         })},
        {"two truncated sites", with([](sample_recipe &s) {
             s.site[SITE_EXITGAME].state = SAMPLE_TRUNCATED;
             s.site[SITE_CLICK_DELAY].state = SAMPLE_TRUNCATED;
         })},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(sample_write(path.c_str(), &c.recipe), -1);
        sample_recipe placed;
        EXPECT_EQ(sample_layout(&c.recipe, &placed), -1);
    }
}

TEST_F(sample_image, adjacent_sites_and_empty_files)
{
    sample_recipe recipe;
    sample_defaults(&recipe, 4096);
    // Packed back to back: a signature must not run across a neighbour.
    int64_t at = 0;
    for (int i = 0; i < SITE_COUNT; ++i) {
        const site_entry &e = patch_catalogue[i];
        recipe.site[i].at = at;
        at += e.sig_len + e.block_len + (e.kind == SITE_KIND_YEAR ? 2 : 0);
    }
    sample_recipe placed;
    ASSERT_TRUE(make_image(path, recipe, &placed));
    expect_sites_where_placed(read_file(path), placed);

    for (int64_t size : {0, 1}) {
        sample_defaults(&recipe, size);
        for (sample_site &s : recipe.site)
            s.state = SAMPLE_ABSENT;
        ASSERT_TRUE(make_image(path, recipe));
        EXPECT_EQ(read_file(path).size(), static_cast<size_t>(size));
    }
}

TEST_F(sample_image, same_recipe_gives_same_bytes_and_seed_changes_filler)
{
    sample_recipe recipe;
    sample_defaults(&recipe, 1 << 18);
    ASSERT_TRUE(make_image(path, recipe));
    bytes a = read_file(path);
    ASSERT_TRUE(make_image(path, recipe));
    EXPECT_EQ(a, read_file(path));
    recipe.seed = 2;
    ASSERT_TRUE(make_image(path, recipe));
    EXPECT_NE(a, read_file(path));
}

TEST_F(sample_image, make_sample_tool)
{
    const std::string out = dir + "/tool.exe";
    const struct {
        std::vector<std::string> args;
        int exit_code;
    } cases[] = {
        {{out, "--size", "200000", "--seed", "3", "--site", "click_delay=patched@70000:6",
          "--site", "exitgame=duplicated@1000,5000", "--site", "wc06_fix=unrecognised:0x41"},
         0},
        {{out, "--site", "nosuch=game"}, 1},
        {{out, "--site", "exitgame=sideways"}, 1},
        {{out, "--size", "-3"}, 1},
        {{out, "--size"}, 1},
        {{out, "--frobnicate", "1"}, 1},
        {{}, 1},
        {{out, "--size", "100"}, 2},
        {{dir + "/no/such/dir/x.exe"}, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "args: " << testing::PrintToString(c.args));
        run_result r = run_program(MAKE_SAMPLE_PATH, c.args);
        EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
        if (c.exit_code != 0) {
            EXPECT_FALSE(r.err.empty());
        }
    }

    bytes data = read_file(out);
    ASSERT_EQ(data.size(), 200000u);
    EXPECT_EQ(find_site(data, SITE_CLICK_DELAY), std::vector<int64_t>{70000});
    EXPECT_EQ(data[70000 + 18 + CLICK_DELAY_PARAM_POS], 6);
    EXPECT_EQ(find_site(data, SITE_EXITGAME), (std::vector<int64_t>{1000, 5000}));
    std::vector<int64_t> wc06 = find_site(data, SITE_WC06_FIX);
    ASSERT_EQ(wc06.size(), 1u);
    EXPECT_EQ(data[static_cast<size_t>(wc06[0]) + 9], 0x41);
}

} // namespace
