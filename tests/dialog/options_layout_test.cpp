#include <cstring>
#include <set>

#include "dialog/options_ids.h"
#include "dialog/options_layout.h"
#include "ui_fixture.h"

namespace {

using options_layout_test = ui_test;

// A target as the scan leaves it, with the given sites found.
patch_target found(bool start, bool wc06, bool bosman, bool counts, bool promoted, bool click, bool exitgame)
{
    patch_target t{};
    t.start_year_ofs = start ? 100 : -1;
    t.wc06_ofs = wc06 ? 200 : -1;
    t.bosman_year_ofs = bosman ? 300 : -1;
    t.conf_counts_ofs = counts ? 400 : -1;
    t.conf_promoted_ofs = promoted ? 500 : -1;
    t.click_delay_ofs = click ? 600 : -1;
    t.exitgame_ofs = exitgame ? 700 : -1;
    return t;
}

struct decoded {
    host_tmpl d;
    size_t length;
};

decoded lay_out(const patch_target &t)
{
    decoded out{};
    dlg_template *dlg = layout_options_dialog(&t);
    EXPECT_NE(dlg, nullptr);
    if (dlg == nullptr)
        return out;
    out.length = static_cast<size_t>(dlg->cursor - dlg->header);
    EXPECT_EQ(host_decode_template(dlg->header, DLG_BLOCK_SIZE, &out.d), 0);
    dlg_free(dlg);
    return out;
}

// Item numbers (1-based, in creation order) that carry WS_DISABLED.
std::set<int> disabled_items(const host_tmpl &d)
{
    std::set<int> out;
    for (int i = 0; i < d.count; ++i)
        if (d.items[i].style & WS_DISABLED)
            out.insert(i + 1);
    return out;
}

TEST_F(options_layout_test, frame_and_controls_as_the_driver_sees_them)
{
    decoded got = lay_out(found(true, true, true, true, true, true, true));
    const host_tmpl &d = got.d;
    EXPECT_EQ(d.style, 0x00C808C0u);
    EXPECT_EQ(d.x, 100);
    EXPECT_EQ(d.y, 100);
    EXPECT_EQ(d.cx, 100);
    EXPECT_EQ(d.cy, 173);
    EXPECT_STREQ(d.title, "Velmar's ZANDOR patcher");
    EXPECT_EQ(d.point_size, 10);
    EXPECT_STREQ(d.face, "MS Shell Dlg");

    struct control {
        const char *cls;
        int id;
        const char *text;
        short x, y, cx, cy;
        uint32_t style;
    };
    const control want[] = {
        {"Button", 0xFFFF, "Years", 2, 2, 96, 59, 0x50000007},
        {"edit", 103, "2001", 9, 12, 24, 10, 0x50802000},
        {"msctls_updown32", 102, "", 33, 12, 5, 10, 0x50800092},
        {"Static", 0xFFFF, "Game starts", 42, 12, 50, 10, 0x50000000},
        {"Button", 112, "World Cup 06 fix", 9, 24, 85, 10, 0x50010003},
        {"edit", 105, "2001", 9, 36, 24, 10, 0x50802000},
        {"msctls_updown32", 104, "", 33, 36, 5, 10, 0x50800092},
        {"Static", 0xFFFF, "Bosman ruling", 42, 36, 50, 10, 0x50000000},
        {"Button", 113, "Leave years untouched", 9, 48, 85, 10, 0x50010003},
        {"Button", 0xFFFF, "Conference league", 2, 64, 96, 47, 0x50000007},
        {"edit", 107, "2001", 9, 74, 10, 10, 0x50802000},
        {"msctls_updown32", 106, "", 19, 74, 5, 10, 0x50800092},
        {"Static", 0xFFFF, "Nof promoted", 28, 74, 50, 10, 0x50000000},
        {"edit", 109, "2001", 9, 86, 10, 10, 0x50802000},
        {"msctls_updown32", 108, "", 19, 86, 5, 10, 0x50800092},
        {"Static", 0xFFFF, "Nof relegated", 28, 86, 50, 10, 0x50000000},
        {"Button", 114, "Don't touch conference", 9, 98, 85, 10, 0x50010003},
        {"Button", 0xFFFF, "Misc fixes", 2, 114, 96, 44, 0x50000007},
        {"edit", 111, "2001", 9, 124, 10, 10, 0x50802000},
        {"msctls_updown32", 110, "", 19, 124, 5, 10, 0x50800092},
        {"Static", 0xFFFF, "Click repeat delay", 28, 124, 68, 10, 0x50000000},
        {"Button", 115, "Don't install click delay", 9, 134, 85, 10, 0x50010003},
        {"Button", 116, "Close window exits game", 9, 144, 85, 10, 0x50010003},
        {"Button", 100, "OK", 10, 161, 30, 10, 0x50000000},
        {"Button", 101, "Cancel", 60, 161, 30, 10, 0x50000000},
    };
    ASSERT_EQ(d.count, std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        const control &w = want[i];
        const host_tmpl_item &it = d.items[i];
        SCOPED_TRACE(testing::Message() << "control #" << i + 1 << " " << w.text);
        EXPECT_STREQ(it.class_name, w.cls);
        EXPECT_EQ(it.id, w.id);
        EXPECT_STREQ(it.title, w.text);
        EXPECT_EQ(it.x, w.x);
        EXPECT_EQ(it.y, w.y);
        EXPECT_EQ(it.cx, w.cx);
        EXPECT_EQ(it.cy, w.cy);
        EXPECT_EQ(it.style, w.style);
        EXPECT_EQ(it.data_size, std::strcmp(w.cls, "Button") == 0 && (w.style & 0xF) == 3 ? 2 : 0);
    }
}

TEST_F(options_layout_test, scan_results_decide_only_the_disabled_bits)
{
    struct layout_case {
        const char *name;
        patch_target t;
        std::set<int> disabled;
    };
    const std::set<int> all_but_frame = {2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 19, 20, 21, 22, 23};
    const layout_case cases[] = {
        {"nothing found", found(false, false, false, false, false, false, false), all_but_frame},
        {"everything found", found(true, true, true, true, true, true, true), {}},
        {"start year without wc06", found(true, false, true, true, true, true, true), {5}},
        {"wc06 without start year", found(false, true, true, true, true, true, true), {2, 3, 4, 5}},
        {"only the start year", found(true, true, false, true, true, true, true), {6, 7, 8}},
        {"only the Bosman year", found(false, false, true, true, true, true, true), {2, 3, 4, 5}},
        {"conference counts alone", found(true, true, true, true, false, true, true), {11, 12, 13, 14, 15, 16, 17}},
        {"conference promoted alone", found(true, true, true, false, true, true, true), {11, 12, 13, 14, 15, 16, 17}},
        {"click delay without exit fix", found(true, true, true, true, true, true, false), {23}},
        {"exit fix without click delay", found(true, true, true, true, true, false, true), {19, 20, 21, 22}},
    };
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.name);
        decoded got = lay_out(c.t);
        EXPECT_EQ(disabled_items(got.d), c.disabled);
        // The disabled bit changes no length.
        EXPECT_EQ(got.length, 1502u);
        EXPECT_EQ(got.d.count, 25);
        for (int i = 0; i < got.d.count; ++i) {
            if (std::strcmp(got.d.items[i].class_name, "edit") == 0) {
                EXPECT_TRUE(got.d.items[i].style & ES_NUMBER);
            }
        }
    }
}

TEST_F(options_layout_test, every_updown_binds_to_its_edit)
{
    patch_target t = found(true, true, true, true, true, true, true);
    EXPECT_EQ(run_options(&t, {click(ID_CANCEL)}), 0);
    const int pairs[][2] = {{102, 103}, {104, 105}, {106, 107}, {108, 109}, {110, 111}};
    for (const auto &p : pairs) {
        SCOPED_TRACE(p[0]);
        ASSERT_NE(host_control(p[0]), nullptr);
        EXPECT_EQ(host_control(p[0])->buddy, host_control(p[1]));
    }
}

TEST_F(options_layout_test, no_template_when_memory_is_short)
{
    patch_target t = found(true, true, true, true, true, true, true);
    host.global_fail_next = 1;
    EXPECT_EQ(layout_options_dialog(&t), nullptr);
}

} // namespace
