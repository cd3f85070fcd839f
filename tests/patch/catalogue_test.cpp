#include <gtest/gtest.h>

#include "patch/catalogue.h"
#include "test_files.h"

namespace {

// An independent transcription of every byte string, as one hex line each.
struct expected_site {
    site_id id;
    const char *name;
    site_kind kind;
    const char *sig;
    int32_t block_len;
    const char *unpatched;   // the known part
    const char *patched;
};

const expected_site expected[] = {
    {SITE_START_YEAR, "start_year", SITE_KIND_YEAR, "6a ff 33 db 68", 2, "", ""},
    {SITE_WC06_FIX, "wc06_fix", SITE_KIND_BLOCK, "00 00 89 8c 24 b0 00 00 00", 110,
     "8b 15 5c f3 9c 00 8b 0d a0 f3 9c 00 89 94 24 b4 00 00 00 8b 15 28 f2 9c 00 89 8c 24 b8 "
     "00 00 00 8b 0d 60 f3 9c 00 89 94 24 bc 00 00 00 8b 15 44 f3 9c 00 89 8c 24 c4 00 00 00 "
     "8b 0d 44 f4 9c 00",
     "b2 5e b1 6e 89 94 24 b4 00 00 00 89 8c 24 b8 00 00 00 b2 0c b1 5f 89 94 24 bc 00 00 00 "
     "89 8c 24 c4 00 00 00 b2 57 b1 9a 89 94 24 c8 00 00 00 89 8c 24 cc 00 00 00 b2 49 b1 6f "
     "89 94 24 d0 00 00 00 89 8c 24 d4 00 00 00 c6 05 04 f2 9c 00 4a c6 05 14 f3 9c 00 45 c6 "
     "05 fc f2 9c 00 01 8b 15 fc f2 9c 00 90 90 90 90 90 90 90 90 90 90 90"},
    {SITE_BOSMAN_YEAR, "bosman_year", SITE_KIND_YEAR,
     "c4 1c 02 00 00 c3 90 90 90 90 90 90 90 90 90 90 90 90 6a ff 68", 2, "", ""},
    {SITE_CLICK_DELAY, "click_delay", SITE_KIND_BLOCK,
     "8b 94 91 66 a9 0b 00 66 8b 0d 7a 7c b7 00 eb 02 33 d2", 29,
     "66 85 d2 75 07 66 8b 15 de 6b dd 00 0f bf d2 83 c2 fc 83 fa 2c 0f 87 c0 08 00 00 33 db",
     "85 d2 75 07 66 8b 15 de 6b dd 00 83 c2 fc 83 fa 2c 0f 87 c4 08 00 00 c1 db 05 4b 75 fd"},
    {SITE_EXITGAME, "exitgame", SITE_KIND_BLOCK,
     "8a 84 24 ec 01 00 00 5f a2 24 7a b6 00 33 c0 5e 81 c4 d8 01 00 00 c2 10 00", 5,
     "8d 8c 24 18 01", "e9 e7 81 2b 00"},
    {SITE_CONF_COUNTS, "conf_counts", SITE_KIND_BLOCK,
     "c3 90 53 56 8b f1 b0 03 b9 02 00 00 00 bb 01 00 00 00 66 89 4e 3c 88 8e c4 00 00 00 88 8e "
     "c6 00 00 00 33 c9 88 86 c2 00 00 00 88 9e c3 00 00 00 88 5e 42 88 9e c5 00 00 00 88 86 c7 "
     "00 00 00",
     24, "88 9e be 00 00 00 88 8e bf 00 00 00 88 8e c0 00 00 00 88 86 c1 00 00 00",
     "c7 86 be 00 00 00 01 00 00 03 90 90 90 90 90 90 90 90 90 90 90 90 90 90"},
    {SITE_CONF_PROMOTED, "conf_promoted", SITE_KIND_BLOCK,
     "90 90 90 53 56 8b f1 b0 03 b9 02 00 00 00 bb 01 00 00 00 b2 04 57 66 89 4e 3c 88 86 c2 00 "
     "00 00 88 9e c3 00 00 00 88 8e c4 00 00 00 88 5e 42 88 9e c5 00 00 00 88 8e c6 00 00 00 88 "
     "86 c7 00 00 00",
     25, "88 86 be 00 00 00 88 96 bf 00 00 00 c6 86 c0 00 00 00 00 88 9e c1 00 00 00",
     "c7 86 be 00 00 00 03 04 00 01 90 90 90 90 90 90 90 90 90 90 90 90 90 90 90"},
};

bytes span(const uint8_t *p, int32_t n)
{
    return p == nullptr ? bytes{} : bytes(p, p + n);
}

TEST(catalogue, every_byte_matches_the_transcription)
{
    for (const expected_site &x : expected) {
        SCOPED_TRACE(x.name);
        const site_entry &e = patch_catalogue[x.id];
        EXPECT_STREQ(e.name, x.name);
        EXPECT_EQ(e.kind, x.kind);
        EXPECT_EQ(e.block_len, x.block_len);
        EXPECT_EQ(span(e.sig, e.sig_len), hex(x.sig));
        EXPECT_EQ(span(e.unpatched, e.unpatched_known), hex(x.unpatched));
        EXPECT_EQ(span(e.patched, x.kind == SITE_KIND_YEAR ? 0 : e.block_len), hex(x.patched));
    }
}

TEST(catalogue, summary_table)
{
    struct row {
        site_id id;
        int32_t sig_len, block_len;
        int first_game, first_ours;
    };
    const row rows[] = {
        {SITE_START_YEAR, 5, 2, -1, -1},     {SITE_WC06_FIX, 9, 110, 0x8b, 0xb2},
        {SITE_BOSMAN_YEAR, 21, 2, -1, -1},   {SITE_CLICK_DELAY, 18, 29, 0x66, 0x85},
        {SITE_EXITGAME, 25, 5, 0x8d, 0xe9},  {SITE_CONF_COUNTS, 63, 24, 0x88, 0xc7},
        {SITE_CONF_PROMOTED, 65, 25, 0x88, 0xc7},
    };
    for (const row &r : rows) {
        const site_entry &e = patch_catalogue[r.id];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.sig_len, r.sig_len);
        EXPECT_EQ(e.block_len, r.block_len);
        if (r.first_game >= 0) {
            EXPECT_EQ(e.unpatched[0], r.first_game);
            EXPECT_EQ(e.patched[0], r.first_ours);
        }
    }
}

TEST(catalogue, parameter_positions_hold_the_stored_values_and_never_byte_0)
{
    EXPECT_EQ(CLICK_DELAY_PARAM_POS, 25);
    EXPECT_EQ(CONF_PROMOTED_PARAM_POS, 9);
    EXPECT_EQ(CONF_COUNTS_PROMOTED_POS, 6);
    EXPECT_EQ(CONF_COUNTS_RELEGATED_POS, 9);
    EXPECT_EQ(patch_catalogue[SITE_CLICK_DELAY].patched[CLICK_DELAY_PARAM_POS], 0x05);
    EXPECT_EQ(patch_catalogue[SITE_CONF_PROMOTED].patched[CONF_PROMOTED_PARAM_POS], 0x01);
    EXPECT_EQ(patch_catalogue[SITE_CONF_COUNTS].patched[CONF_COUNTS_PROMOTED_POS], 0x01);
    EXPECT_EQ(patch_catalogue[SITE_CONF_COUNTS].patched[CONF_COUNTS_RELEGATED_POS], 0x03);
}

// The patched conference blocks, with their stored values, leave the game's
// object bytes +0xbe..+0xc1 as the game's own code does (1,0,0,3 and 3,4,0,1).
TEST(catalogue, stored_conference_values_equal_the_game_behaviour)
{
    const uint8_t *counts = patch_catalogue[SITE_CONF_COUNTS].patched;
    const uint8_t *promoted = patch_catalogue[SITE_CONF_PROMOTED].patched;
    EXPECT_EQ(bytes(counts + 6, counts + 10), (bytes{1, 0, 0, 3}));
    EXPECT_EQ(bytes(promoted + 6, promoted + 10), (bytes{3, 4, 0, 1}));
}

// Both click-delay variants jump to block start + 2267: the patched block
// moves the jump 4 bytes earlier and adds 4 to its displacement.
TEST(catalogue, click_delay_far_jumps_reach_the_same_target)
{
    auto target = [](const uint8_t *block, int jump_at) {
        const uint8_t *d = block + jump_at + 2;
        int32_t disp = d[0] | (d[1] << 8) | (d[2] << 16) | (d[3] << 24);
        return jump_at + 6 + disp;
    };
    EXPECT_EQ(target(patch_catalogue[SITE_CLICK_DELAY].unpatched, 21), 2267);
    EXPECT_EQ(target(patch_catalogue[SITE_CLICK_DELAY].patched, 17), 2267);
}

} // namespace
