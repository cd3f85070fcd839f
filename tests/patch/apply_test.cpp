#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <unistd.h>

#include "patch/apply_patches.h"
#include "test_files.h"
#include "tools/sample_image.h"

namespace {

// A scanned sample image and the bytes it held before any write.
struct fixture {
    std::string path;
    patch_target *t;
    bytes before;
};

fixture scanned_sample(const std::function<void(sample_recipe &)> &make = nullptr)
{
    sample_recipe recipe;
    sample_defaults(&recipe, 200000);
    if (make)
        make(recipe);
    fixture f{scratch_path("image"), nullptr, {}};
    EXPECT_EQ(sample_write(f.path.c_str(), &recipe), 0);
    f.before = read_file(f.path);
    f.t = open_target(f.path.c_str());
    EXPECT_NE(f.t, nullptr);
    scan_target(f.t);
    return f;
}

// Marks every site "not to be written".
void leave_all(patch_target *t)
{
    t->click_delay_ofs = t->bosman_year_ofs = t->start_year_ofs = t->wc06_ofs = -1;
    t->exitgame_ofs = t->conf_promoted_ofs = t->conf_counts_ofs = -1;
}

void put(bytes &image, int32_t ofs, const uint8_t *data, int32_t len)
{
    std::memcpy(image.data() + ofs, data, static_cast<std::size_t>(len));
}

bytes block_with(site_id id, std::initializer_list<std::pair<int, uint8_t>> params)
{
    const site_entry &e = patch_catalogue[id];
    bytes b(e.patched, e.patched + e.block_len);
    for (auto [pos, value] : params)
        b[pos] = value;
    return b;
}

const uint8_t *game_block(site_id id)
{
    return patch_catalogue[id].unpatched;
}

TEST(apply_patches, nothing_to_write_leaves_the_file_alone)
{
    fixture f = scanned_sample();
    leave_all(f.t);
    EXPECT_EQ(apply_patches(f.t), RESULT_OK);
    EXPECT_EQ(read_file(f.path), f.before);
    close_target(f.t);
}

struct click_case {
    int8_t delay;
    bool patched;
};

TEST(apply_patches, click_delay_1_to_8_installs_our_block_anything_else_the_game_block)
{
    const click_case cases[] = {{1, true}, {6, true}, {8, true}, {0, false}, {9, false}, {10, false}, {-1, false}};
    for (const click_case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.delay));
        fixture f = scanned_sample([](sample_recipe &s) { s.site[SITE_CLICK_DELAY].state = SAMPLE_PATCHED; });
        int32_t ofs = f.t->click_delay_ofs;
        leave_all(f.t);
        f.t->click_delay_ofs = ofs;
        f.t->click_delay = c.delay;
        EXPECT_EQ(apply_patches(f.t), RESULT_OK);
        bytes expected = f.before;
        bytes block = block_with(SITE_CLICK_DELAY, {{CLICK_DELAY_PARAM_POS, static_cast<uint8_t>(c.delay)}});
        put(expected, ofs, c.patched ? block.data() : game_block(SITE_CLICK_DELAY), 29);
        EXPECT_EQ(read_file(f.path), expected);
        close_target(f.t);
    }
}

struct year_case {
    int16_t start_year;
    int16_t bosman_year;
    bool start_written, bosman_written, wc06_patched;
};

TEST(apply_patches, years_are_guarded_and_the_wc06_block_follows_the_start_year)
{
    const year_case cases[] = {
        {2002, 2000, true, true, false},   {2003, 29999, true, true, true},
        {1999, 1999, false, false, false}, {-1, 30000, false, false, false},
        {2020, -1, true, false, true},
    };
    for (const year_case &c : cases) {
        SCOPED_TRACE(std::to_string(c.start_year) + "/" + std::to_string(c.bosman_year));
        fixture f = scanned_sample();
        f.t->start_year = c.start_year;
        f.t->bosman_year = c.bosman_year;
        f.t->click_delay_ofs = f.t->exitgame_ofs = f.t->conf_counts_ofs = -1;
        bytes wc06_game(f.t->wc06_original, f.t->wc06_original + WC06_BLOCK_LEN);
        EXPECT_EQ(apply_patches(f.t), RESULT_OK);
        bytes expected = f.before;
        if (c.start_written) {
            uint8_t y[2] = {static_cast<uint8_t>(c.start_year), static_cast<uint8_t>(c.start_year >> 8)};
            put(expected, f.t->start_year_ofs, y, 2);
            put(expected, f.t->wc06_ofs, c.wc06_patched ? patch_catalogue[SITE_WC06_FIX].patched : wc06_game.data(), 110);
        }
        if (c.bosman_written) {
            uint8_t y[2] = {static_cast<uint8_t>(c.bosman_year), static_cast<uint8_t>(c.bosman_year >> 8)};
            put(expected, f.t->bosman_year_ofs, y, 2);
        }
        EXPECT_EQ(read_file(f.path), expected);
        close_target(f.t);
    }
}

// The game's full wc06 block is known only from an unpatched file: an
// installed fix cannot be taken out, so the writer leaves it and says so.
TEST(apply_patches, an_installed_wc06_fix_whose_original_is_unknown_is_kept)
{
    fixture f = scanned_sample([](sample_recipe &s) { s.site[SITE_WC06_FIX].state = SAMPLE_PATCHED; });
    ASSERT_EQ(f.t->wc06_installed, 1);
    f.t->start_year = 2001;
    f.t->click_delay_ofs = f.t->exitgame_ofs = f.t->conf_counts_ofs = f.t->bosman_year_ofs = -1;
    EXPECT_EQ(apply_patches(f.t), RESULT_WC06_KEPT);
    bytes expected = f.before;
    const uint8_t y[2] = {0xd1, 0x07};
    put(expected, f.t->start_year_ofs, y, 2);
    EXPECT_EQ(read_file(f.path), expected);
    close_target(f.t);
}

TEST(apply_patches, exit_fix_and_conference_blocks)
{
    struct conf_case {
        const char *what;
        int32_t touch, exit_on;
        int8_t promoted, relegated;
        bool counts_present;
    };
    const conf_case cases[] = {
        {"install with counts as given, unchecked", 1, 1, 9, -3, true},
        {"game's blocks back", 0, 0, 4, 4, true},
        {"one conference site absent: neither written", 1, 1, 2, 2, false},
    };
    for (const conf_case &c : cases) {
        SCOPED_TRACE(c.what);
        fixture f = scanned_sample([](sample_recipe &s) {
            s.site[SITE_CONF_COUNTS].state = s.site[SITE_CONF_PROMOTED].state = SAMPLE_PATCHED;
            s.site[SITE_CONF_COUNTS].param = s.site[SITE_CONF_PROMOTED].param = 5;
            s.site[SITE_CONF_COUNTS].param2 = 6;
        });
        f.t->start_year_ofs = f.t->bosman_year_ofs = f.t->click_delay_ofs = -1;
        f.t->touch_conference = c.touch;
        f.t->exitgame_installed = c.exit_on;
        f.t->promoted = c.promoted;
        f.t->relegated = c.relegated;
        if (!c.counts_present)
            f.t->conf_counts_ofs = -1;
        EXPECT_EQ(apply_patches(f.t), RESULT_OK);
        bytes expected = f.before;
        const site_entry &exit = patch_catalogue[SITE_EXITGAME];
        put(expected, f.t->exitgame_ofs, c.exit_on ? exit.patched : exit.unpatched, 5);
        if (c.counts_present && c.touch) {
            auto p = static_cast<uint8_t>(c.promoted), r = static_cast<uint8_t>(c.relegated);
            put(expected, f.t->conf_promoted_ofs, block_with(SITE_CONF_PROMOTED, {{9, p}}).data(), 25);
            put(expected, f.t->conf_counts_ofs, block_with(SITE_CONF_COUNTS, {{6, p}, {9, r}}).data(), 24);
        } else if (c.counts_present) {
            put(expected, f.t->conf_promoted_ofs, game_block(SITE_CONF_PROMOTED), 25);
            put(expected, f.t->conf_counts_ofs, game_block(SITE_CONF_COUNTS), 24);
        }
        EXPECT_EQ(read_file(f.path), expected);
        close_target(f.t);
    }
}

// Whatever is written, a fresh scan reads it back, only site bytes change
// and the length stays.
TEST(apply_patches, write_then_scan_round_trip)
{
    fixture f = scanned_sample();
    f.t->start_year = 2005;
    f.t->bosman_year = 2010;
    f.t->click_delay = 4;
    f.t->exitgame_installed = 1;
    f.t->touch_conference = 1;
    f.t->promoted = 3;
    f.t->relegated = 2;
    ASSERT_EQ(apply_patches(f.t), RESULT_OK);
    bytes after = read_file(f.path);
    ASSERT_EQ(after.size(), f.before.size());
    struct range {
        int32_t ofs, len;
    };
    const range sites[] = {{f.t->start_year_ofs, 2},   {f.t->wc06_ofs, 110},        {f.t->bosman_year_ofs, 2},
                           {f.t->click_delay_ofs, 29}, {f.t->exitgame_ofs, 5},      {f.t->conf_counts_ofs, 24},
                           {f.t->conf_promoted_ofs, 25}};
    for (std::size_t i = 0; i < after.size(); ++i) {
        bool in_site = false;
        for (const range &r : sites)
            in_site = in_site || (static_cast<int64_t>(i) >= r.ofs && static_cast<int64_t>(i) < r.ofs + r.len);
        if (!in_site && after[i] != f.before[i])
            ADD_FAILURE() << "byte outside every site changed at " << i;
    }
    patch_target *again = open_target(f.path.c_str());
    scan_target(again);
    EXPECT_EQ(again->start_year, 2005);
    EXPECT_EQ(again->bosman_year, 2010);
    EXPECT_EQ(again->wc06_installed, 1);
    EXPECT_EQ(again->click_delay, 4);
    EXPECT_EQ(again->exitgame_installed, 1);
    EXPECT_EQ(again->promoted, 3);
    EXPECT_EQ(again->relegated, 2);
    EXPECT_GT(again->conf_counts_ofs, 0);
    close_target(again);
    close_target(f.t);
}

// Between the scan and the write the file may be replaced or changed by
// someone else: then nothing at all is written.
TEST(apply_patches, a_file_changed_since_the_scan_is_not_written)
{
    struct change_case {
        const char *what;
        std::function<void(bytes &, const patch_target *)> change;
    };
    const change_case cases[] = {
        {"truncated", [](bytes &b, const patch_target *) { b.resize(b.size() - 1); }},
        {"grown", [](bytes &b, const patch_target *) { b.push_back(0); }},
        {"signature changed", [](bytes &b, const patch_target *t) { b[t->exitgame_ofs - 1] ^= 0xff; }},
        {"block no longer recognised", [](bytes &b, const patch_target *t) { b[t->click_delay_ofs] = 0x00; }},
        {"year site moved", [](bytes &b, const patch_target *t) { b[t->start_year_ofs - 5] = 0x00; }},
    };
    for (const change_case &c : cases) {
        SCOPED_TRACE(c.what);
        fixture f = scanned_sample();
        f.t->start_year = 2010;
        f.t->click_delay = 3;
        bytes changed = f.before;
        c.change(changed, f.t);
        ASSERT_TRUE(write_file(f.path, changed));
        EXPECT_EQ(apply_patches(f.t), RESULT_FILE_CHANGED);
        EXPECT_EQ(read_file(f.path), changed);
        close_target(f.t);
    }
}

TEST(apply_patches, a_file_that_cannot_be_opened_for_update_is_reported)
{
    fixture f = scanned_sample();
    ASSERT_EQ(unlink(f.path.c_str()), 0);
    EXPECT_EQ(apply_patches(f.t), RESULT_WRITE_OPEN_FAILED);
    close_target(f.t);
}

} // namespace
