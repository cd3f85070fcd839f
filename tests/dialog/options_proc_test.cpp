#include <cstdio>
#include <cstring>
#include <functional>
#include <unistd.h>

#include "app/current_target.h"
#include "dialog/options_ids.h"
#include "dialog/options_proc.h"
#include "patch/apply_patches.h"
#include "ui_fixture.h"

namespace {

struct options_proc_test : ui_test {
    std::string path;
    sample_recipe placed{};
    patch_target *t = nullptr;
    bytes before;

    void make(const sample_recipe &recipe)
    {
        path = scratch_path("ZANDOR.EXE");
        placed = write_sample(path, recipe);
        before = read_file(path);
        t = scanned(path);
        ASSERT_NE(t, nullptr);
    }
    void TearDown() override
    {
        if (t != nullptr)
            close_target(t);
        ui_test::TearDown();
    }
    int32_t ofs(site_id s) const
    {
        return static_cast<int32_t>(placed.site[s].at) + patch_catalogue[s].sig_len;
    }
};

using recipe_change = std::function<void(sample_recipe &)>;

sample_recipe sample_with(const recipe_change &change)
{
    sample_recipe recipe = default_sample();
    if (change)
        change(recipe);
    return recipe;
}

void patched(sample_recipe &s, site_id site, int32_t param = 0, int32_t param2 = 0)
{
    s.site[site].state = SAMPLE_PATCHED;
    s.site[site].param = param;
    s.site[site].param2 = param2;
}

bool sent(WORD id, UINT msg)
{
    for (int i = 0; i < host.sent_count && i < HOST_MAX_LOG; ++i)
        if (host.sent[i].id == id && host.sent[i].msg == msg)
            return true;
    return false;
}

TEST_F(options_proc_test, controls_start_from_the_scanned_image)
{
    struct start_case {
        const char *name;
        recipe_change change;
        const char *texts[5];  // edits 103, 105, 107, 109, 111
        WPARAM wc06, exitgame;
    };
    const start_case cases[] = {
        {"the game as shipped", nullptr, {"2001", "2002", "1", "3", "5"}, 0, 0},
        {"fixes installed",
         [](sample_recipe &s) {
             patched(s, SITE_CLICK_DELAY, 3);
             patched(s, SITE_WC06_FIX);
             patched(s, SITE_EXITGAME);
             patched(s, SITE_CONF_COUNTS, 4, 6);
             patched(s, SITE_CONF_PROMOTED, 4);
             s.site[SITE_START_YEAR].param = 2007;
         },
         {"2007", "2002", "4", "6", "3"}, 1, 1},
        {"years outside the ranges are clamped",
         [](sample_recipe &s) {
             s.site[SITE_START_YEAR].param = 2074;
             s.site[SITE_BOSMAN_YEAR].param = 1990;
         },
         {"2020", "2001", "1", "3", "5"}, 0, 0},
        {"absent sites keep their defaults",
         [](sample_recipe &s) {
             for (int i = 0; i < SITE_COUNT; ++i)
                 s.site[i].state = SAMPLE_ABSENT;
         },
         {"2001", "2001", "1", "3", "5"}, 0, 0},
        {"an odd installed delay shows 5", [](sample_recipe &s) { patched(s, SITE_CLICK_DELAY, 9); },
         {"2001", "2002", "1", "3", "5"}, 0, 0},
    };
    const int edits[5] = {ID_START_YEAR_EDIT, ID_BOSMAN_EDIT, ID_PROMOTED_EDIT, ID_RELEGATED_EDIT, ID_CLICK_DELAY_EDIT};
    const int ranges[5][2] = {{2001, 2020}, {2001, 3000}, {0, 7}, {0, 7}, {1, 10}};
    for (const start_case &c : cases) {
        SCOPED_TRACE(c.name);
        make(sample_with(c.change));
        EXPECT_EQ(run_options(t, {click(ID_CANCEL)}), 0);
        EXPECT_EQ(host.init_result, TRUE);
        for (int i = 0; i < 5; ++i) {
            HWND edit = host_control(edits[i]);
            HWND updown = host_control(edits[i] - 1);
            ASSERT_NE(edit, nullptr);
            EXPECT_STREQ(edit->text, c.texts[i]) << "edit " << edits[i];
            EXPECT_EQ(updown->ud_min, ranges[i][0]);
            EXPECT_EQ(updown->ud_max, ranges[i][1]);
        }
        EXPECT_EQ(host_control(ID_WC06_CHECK)->check, c.wc06);
        EXPECT_EQ(host_control(ID_EXITGAME_CHECK)->check, c.exitgame);
        close_target(t);
        t = nullptr;
        host_reset();
    }
}

void put_block(bytes &file, int32_t at, const uint8_t *block, int32_t len)
{
    std::memcpy(file.data() + at, block, static_cast<size_t>(len));
}

TEST_F(options_proc_test, ok_writes_the_choices_into_the_file)
{
    make(default_sample());
    INT_PTR r = run_options(t, {type_text(ID_START_YEAR_EDIT, "2010"), type_text(ID_BOSMAN_EDIT, "2005"),
                                type_text(ID_PROMOTED_EDIT, "4"), type_text(ID_RELEGATED_EDIT, "5"),
                                type_text(ID_CLICK_DELAY_EDIT, "6"), click(ID_EXITGAME_CHECK), click(ID_WC06_CHECK),
                                click(ID_OK)});
    EXPECT_EQ(r, 0);
    EXPECT_EQ(host.box_count, 0);

    bytes want = before;
    want[ofs(SITE_START_YEAR)] = 0xDA;  // 2010
    want[ofs(SITE_START_YEAR) + 1] = 0x07;
    want[ofs(SITE_BOSMAN_YEAR)] = 0xD5;  // 2005
    want[ofs(SITE_BOSMAN_YEAR) + 1] = 0x07;
    auto block = [&](site_id s) { return bytes(patch_catalogue[s].patched, patch_catalogue[s].patched + patch_catalogue[s].block_len); };
    bytes delay = block(SITE_CLICK_DELAY), promoted = block(SITE_CONF_PROMOTED), counts = block(SITE_CONF_COUNTS);
    delay[CLICK_DELAY_PARAM_POS] = 6;
    promoted[CONF_PROMOTED_PARAM_POS] = 4;
    counts[CONF_COUNTS_PROMOTED_POS] = 4;
    counts[CONF_COUNTS_RELEGATED_POS] = 5;
    put_block(want, ofs(SITE_WC06_FIX), patch_catalogue[SITE_WC06_FIX].patched, WC06_BLOCK_LEN);
    put_block(want, ofs(SITE_EXITGAME), patch_catalogue[SITE_EXITGAME].patched, patch_catalogue[SITE_EXITGAME].block_len);
    put_block(want, ofs(SITE_CLICK_DELAY), delay.data(), static_cast<int32_t>(delay.size()));
    put_block(want, ofs(SITE_CONF_PROMOTED), promoted.data(), static_cast<int32_t>(promoted.size()));
    put_block(want, ofs(SITE_CONF_COUNTS), counts.data(), static_cast<int32_t>(counts.size()));
    EXPECT_TRUE(read_file(path) == want);

    patch_target *again = scanned(path);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->start_year, 2010);
    EXPECT_EQ(again->bosman_year, 2005);
    EXPECT_EQ(again->click_delay, 6);
    EXPECT_EQ(again->promoted, 4);
    EXPECT_EQ(again->relegated, 5);
    EXPECT_EQ(again->wc06_installed, 1);
    EXPECT_EQ(again->exitgame_installed, 1);
    close_target(again);
}

struct ok_case {
    const char *name;
    recipe_change change;
    std::vector<host_action> actions;
    std::function<void(const options_proc_test &, const patch_target &, const bytes &)> check;
};

bool same_at(const bytes &a, const bytes &b, int32_t at, int32_t len)
{
    return std::memcmp(a.data() + at, b.data() + at, static_cast<size_t>(len)) == 0;
}

bool block_at(const bytes &file, int32_t at, const uint8_t *block, int32_t len)
{
    return std::memcmp(file.data() + at, block, static_cast<size_t>(len)) == 0;
}

TEST_F(options_proc_test, ok_marks_what_is_not_to_be_written)
{
    const ok_case cases[] = {
        {"leave years untouched", nullptr,
         {type_text(ID_START_YEAR_EDIT, "2010"), click(ID_WC06_CHECK), click(ID_LEAVE_YEARS_CHECK), click(ID_OK)},
         [](const options_proc_test &f, const patch_target &t, const bytes &after) {
             EXPECT_EQ(t.start_year_ofs, -1);
             EXPECT_EQ(t.start_year, -1);
             EXPECT_EQ(t.bosman_year_ofs, -1);
             EXPECT_EQ(t.bosman_year, -1);
             EXPECT_TRUE(same_at(f.before, after, f.ofs(SITE_START_YEAR), 2));
             EXPECT_TRUE(same_at(f.before, after, f.ofs(SITE_WC06_FIX), WC06_BLOCK_LEN));
         }},
        {"absent years are not read", [](sample_recipe &s) {
             s.site[SITE_START_YEAR].state = SAMPLE_ABSENT;
             s.site[SITE_BOSMAN_YEAR].state = SAMPLE_ABSENT;
         },
         {click(ID_OK)},
         [](const options_proc_test &, const patch_target &t, const bytes &) {
             EXPECT_EQ(t.start_year, -1);
             EXPECT_EQ(t.bosman_year, -1);
             EXPECT_FALSE(sent(ID_LEAVE_YEARS_CHECK, BM_GETCHECK));
             EXPECT_FALSE(sent(ID_START_YEAR_UPDOWN, UDM_GETPOS));
         }},
        {"an installed World Cup fix unchecked stays", [](sample_recipe &s) { patched(s, SITE_WC06_FIX); },
         {click(ID_WC06_CHECK), type_text(ID_START_YEAR_EDIT, "2002"), click(ID_OK)},
         [](const options_proc_test &f, const patch_target &t, const bytes &after) {
             EXPECT_EQ(t.wc06_ofs, -1);
             EXPECT_EQ(t.start_year, 2002);
             EXPECT_TRUE(same_at(f.before, after, f.ofs(SITE_WC06_FIX), WC06_BLOCK_LEN));
             EXPECT_EQ(after[f.ofs(SITE_START_YEAR)], 0xD2);
         }},
        {"an installed click delay stays when not to be installed",
         [](sample_recipe &s) { patched(s, SITE_CLICK_DELAY, 3); },
         {type_text(ID_CLICK_DELAY_EDIT, "6"), click(ID_NO_CLICK_DELAY_CHECK), click(ID_OK)},
         [](const options_proc_test &f, const patch_target &t, const bytes &after) {
             EXPECT_EQ(t.click_delay_ofs, -1);
             EXPECT_EQ(t.click_delay, -1);
             EXPECT_TRUE(same_at(f.before, after, f.ofs(SITE_CLICK_DELAY), 29));
         }},
        {"untouched conference still reads the counts and puts the game's code back",
         [](sample_recipe &s) {
             patched(s, SITE_CONF_COUNTS, 4, 6);
             patched(s, SITE_CONF_PROMOTED, 4);
         },
         {type_text(ID_PROMOTED_EDIT, "2"), click(ID_KEEP_CONFERENCE_CHECK), click(ID_OK)},
         [](const options_proc_test &f, const patch_target &t, const bytes &after) {
             EXPECT_EQ(t.touch_conference, 0);
             EXPECT_EQ(t.conf_counts_ofs, f.ofs(SITE_CONF_COUNTS));
             EXPECT_EQ(t.conf_promoted_ofs, f.ofs(SITE_CONF_PROMOTED));
             EXPECT_EQ(t.promoted, 2);
             EXPECT_EQ(t.relegated, 6);
             EXPECT_TRUE(block_at(after, f.ofs(SITE_CONF_COUNTS), patch_catalogue[SITE_CONF_COUNTS].unpatched, 24));
             EXPECT_TRUE(block_at(after, f.ofs(SITE_CONF_PROMOTED), patch_catalogue[SITE_CONF_PROMOTED].unpatched, 25));
         }},
        {"one conference site alone is not written",
         [](sample_recipe &s) { s.site[SITE_CONF_PROMOTED].state = SAMPLE_ABSENT; },
         {click(ID_OK)},
         [](const options_proc_test &f, const patch_target &t, const bytes &after) {
             EXPECT_EQ(t.conf_counts_ofs, -1);
             EXPECT_EQ(t.conf_promoted_ofs, -1);
             EXPECT_EQ(t.touch_conference, 1);
             EXPECT_FALSE(sent(ID_PROMOTED_UPDOWN, UDM_GETPOS));
             EXPECT_FALSE(sent(ID_RELEGATED_UPDOWN, UDM_GETPOS));
             EXPECT_TRUE(same_at(f.before, after, f.ofs(SITE_CONF_COUNTS), 24));
         }},
        {"click delay 10 is kept, and the writer puts the game's code back", nullptr,
         {type_text(ID_CLICK_DELAY_EDIT, "10"), click(ID_OK)},
         [](const options_proc_test &f, const patch_target &t, const bytes &after) {
             EXPECT_EQ(t.click_delay, 10);
             EXPECT_TRUE(block_at(after, f.ofs(SITE_CLICK_DELAY), patch_catalogue[SITE_CLICK_DELAY].unpatched, 29));
         }},
        {"a delay the up-down refuses leaves its last position", nullptr,
         {type_text(ID_CLICK_DELAY_EDIT, "11"), click(ID_OK)},
         [](const options_proc_test &, const patch_target &t, const bytes &) { EXPECT_EQ(t.click_delay, 5); }},
        {"a year the up-down refuses leaves its last position", [](sample_recipe &s) { s.site[SITE_START_YEAR].param = 2012; },
         {type_text(ID_START_YEAR_EDIT, "1999"), click(ID_OK)},
         [](const options_proc_test &, const patch_target &t, const bytes &) { EXPECT_EQ(t.start_year, 2012); }},
        {"exit fix removed", [](sample_recipe &s) { patched(s, SITE_EXITGAME); },
         {click(ID_EXITGAME_CHECK), click(ID_OK)},
         [](const options_proc_test &f, const patch_target &t, const bytes &after) {
             EXPECT_EQ(t.exitgame_installed, 0);
             EXPECT_TRUE(block_at(after, f.ofs(SITE_EXITGAME), patch_catalogue[SITE_EXITGAME].unpatched, 5));
         }},
        {"absent exit fix is neither read nor changed", [](sample_recipe &s) { s.site[SITE_EXITGAME].state = SAMPLE_ABSENT; },
         {click(ID_OK)},
         [](const options_proc_test &, const patch_target &t, const bytes &) {
             EXPECT_EQ(t.exitgame_installed, 0);
             EXPECT_FALSE(sent(ID_EXITGAME_CHECK, BM_GETCHECK));
         }},
    };
    for (const ok_case &c : cases) {
        SCOPED_TRACE(c.name);
        make(sample_with(c.change));
        EXPECT_EQ(run_options(t, c.actions), 0);
        EXPECT_EQ(host.script_ran_out, 0);
        EXPECT_EQ(host.refused_actions, 0);
        c.check(*this, *t, read_file(path));
        close_target(t);
        t = nullptr;
        host_reset();
    }
}

TEST_F(options_proc_test, only_ok_cancel_and_close_end_the_dialog)
{
    struct way_case {
        const char *name;
        std::vector<host_action> actions;
        bool writes;
    };
    const way_case cases[] = {
        {"OK", {type_text(ID_START_YEAR_EDIT, "2010"), click(ID_OK)}, true},
        {"Cancel", {type_text(ID_START_YEAR_EDIT, "2010"), click(ID_CANCEL)}, false},
        {"close box", {type_text(ID_START_YEAR_EDIT, "2010"), close_box()}, false},
        {"OK with a notification code", {type_text(ID_START_YEAR_EDIT, "2010"), command(MAKEWPARAM(ID_OK, 5))}, true},
        {"keys and other commands do nothing",
         {type_text(ID_START_YEAR_EDIT, "2010"), escape_key(), enter_key(), command(IDOK), command(IDCANCEL),
          command(99), command(ID_START_YEAR_UPDOWN), click(ID_LEAVE_YEARS_CHECK), click(ID_CANCEL)},
         false},
    };
    for (const way_case &c : cases) {
        SCOPED_TRACE(c.name);
        make(default_sample());
        patch_target scan = *t;
        EXPECT_EQ(run_options(t, c.actions), 0);
        EXPECT_EQ(host.script_ran_out, 0);
        EXPECT_EQ(read_file(path) != before, c.writes);
        if (!c.writes) {
            EXPECT_EQ(std::memcmp(&scan, t, sizeof scan), 0);
        }
        close_target(t);
        t = nullptr;
        host_reset();
    }
}

TEST_F(options_proc_test, procedure_results)
{
    struct msg_case {
        UINT msg;
        WPARAM wparam;
        INT_PTR want;
    };
    // None of these touches a control, so no dialog is needed.
    const msg_case cases[] = {
        {WM_COMMAND, IDOK, FALSE},         {WM_COMMAND, IDCANCEL, FALSE},
        {WM_COMMAND, 99, FALSE},           {WM_COMMAND, MAKEWPARAM(ID_EXITGAME_CHECK, BN_CLICKED), FALSE},
        {WM_COMMAND, ID_CANCEL, TRUE},     {WM_CLOSE, 0, TRUE},
        {WM_DESTROY, 0, TRUE},             {0x000F /* WM_PAINT */, 0, FALSE},
    };
    for (const msg_case &c : cases)
        EXPECT_EQ(options_dialog_proc(nullptr, c.msg, c.wparam, 0), c.want) << c.msg << " " << c.wparam;
}

void remove_file(void *p)
{
    unlink(static_cast<std::string *>(p)->c_str());
}

void grow_file(void *p)
{
    std::FILE *f = std::fopen(static_cast<std::string *>(p)->c_str(), "ab");
    std::fputs("more", f);
    std::fclose(f);
}

TEST_F(options_proc_test, failed_writes_end_with_1_after_telling_the_user)
{
    struct fail_case {
        const char *name;
        void (*happen)(void *);
    };
    const fail_case cases[] = {{"file gone", remove_file}, {"file changed", grow_file}};
    for (const fail_case &c : cases) {
        SCOPED_TRACE(c.name);
        make(default_sample());
        EXPECT_EQ(run_options(t, {type_text(ID_START_YEAR_EDIT, "2010"), call_out(c.happen, &path), click(ID_OK)}), 1);
        ASSERT_EQ(host.box_count, 1);
        EXPECT_EQ(host.boxes[0].owner, nullptr);
        EXPECT_STREQ(host.boxes[0].text, "Error writing file");
        EXPECT_STREQ(host.boxes[0].caption, "Error");
        EXPECT_EQ(host.boxes[0].type, 0x910u);
        close_target(t);
        t = nullptr;
        host_reset();
    }
}

TEST_F(options_proc_test, kept_world_cup_fix_is_a_warning)
{
    make(sample_with([](sample_recipe &s) { patched(s, SITE_WC06_FIX); }));
    // The fix stays checked and the start year stays 2001: the game's own
    // block would be wanted, but its bytes are not known.
    EXPECT_EQ(run_options(t, {click(ID_OK)}), 0);
    ASSERT_EQ(host.box_count, 1);
    EXPECT_STREQ(host.boxes[0].text, result_text(RESULT_WC06_KEPT));
    EXPECT_STREQ(host.boxes[0].caption, "Warning");
    EXPECT_EQ(host.boxes[0].type, 0x830u);
    EXPECT_TRUE(same_at(before, read_file(path), ofs(SITE_WC06_FIX), WC06_BLOCK_LEN));
}

} // namespace
