#include <cstring>
#include <string>

#include "dialog/dlg_template.h"
#include "template_bytes.h"
#include "ui_fixture.h"

namespace {

using dlg_template_test = ui_test;

constexpr const char *TITLE = "Velmar's ZANDOR patcher";

size_t at(const dlg_template *t, const uint8_t *p)
{
    return static_cast<size_t>(p - t->header);
}

void expect_bytes(const dlg_template *t, size_t from, const std::vector<uint8_t> &want)
{
    for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(t->header[from + i], want[i]) << "byte " << from + i;
}

TEST_F(dlg_template_test, header_byte_for_byte)
{
    struct header_case {
        int x, y, cx, cy;
        const char *title;
        uint32_t extra;
        size_t length;
    };
    const header_case cases[] = {
        {100, 100, 100, 173, TITLE, 0, 98},
        {-5, 7, 300, -1, "", WS_DISABLED, 52},  // low 16 bits of each value; the empty title is one unit
    };
    for (const header_case &c : cases) {
        SCOPED_TRACE(c.title);
        dlg_template *t = dlg_begin(c.x, c.y, c.cx, c.cy, c.title, c.extra);
        ASSERT_NE(t, nullptr);
        template_bytes want;
        want.w32(0x00C808C0 | c.extra).w32(0).w16(0);
        want.w16(static_cast<uint32_t>(c.x)).w16(static_cast<uint32_t>(c.y));
        want.w16(static_cast<uint32_t>(c.cx)).w16(static_cast<uint32_t>(c.cy));
        want.w16(0).w16(0).str(c.title).w16(10).str("MS Shell Dlg");
        EXPECT_EQ(at(t, t->cursor), c.length);
        ASSERT_EQ(want.b.size(), c.length);
        expect_bytes(t, 0, want.b);
        for (size_t i = c.length; i < DLG_BLOCK_SIZE; ++i)
            ASSERT_EQ(t->header[i], 0) << "byte " << i;
        dlg_free(t);
    }
}

TEST_F(dlg_template_test, every_kind_of_item_byte_for_byte)
{
    struct item_case {
        const char *name;
        void (*add)(dlg_template *);
        template_bytes want;
        size_t next;  // where the following item starts, from this one's start
    };
    const item_case cases[] = {
        {"button", [](dlg_template *t) { dlg_add_button(t, 10, 161, 30, 10, 100, "OK"); },
         template_bytes{}.item(0x50000000, 10, 161, 30, 10, 100).w16(0xFFFF).w16(0x0080).str("OK").w16(0), 32},
        {"label", [](dlg_template *t) { dlg_add_label(t, 36, 12, 50, 10, "Game starts", WS_DISABLED); },
         template_bytes{}.item(0x58000000, 36, 12, 50, 10, 0xFFFF).w16(0xFFFF).w16(0x0082).str("Game starts").w16(0),
         48},
        {"group", [](dlg_template *t) { dlg_add_group(t, 2, 2, 96, 59, "Years", 0); },
         template_bytes{}.item(0x50000007, 2, 2, 96, 59, 0xFFFF).str("Button").str("Years").w16(0), 48},
        {"updown", [](dlg_template *t) { dlg_add_updown(t, 27, 12, 5, 10, 102, WS_DISABLED); },
         template_bytes{}.item(0x58800092, 27, 12, 5, 10, 102).str("msctls_updown32").w16(0).w16(0), 56},
        {"edit", [](dlg_template *t) { dlg_add_edit(t, 9, 12, 18, 10, 103, "2001", ES_NUMBER); },
         template_bytes{}.item(0x50802000, 9, 12, 18, 10, 103).str("edit").str("2001").w16(0), 40},
        // The size word counts the two bytes after it.
        {"check", [](dlg_template *t) { dlg_add_check(t, 9, 24, 85, 10, 112, "World Cup 06 fix", 0); },
         template_bytes{}.item(0x50010003, 9, 24, 85, 10, 112).str("Button").str("World Cup 06 fix").w16(2).w16(0x0001),
         72},
    };
    for (const item_case &c : cases) {
        SCOPED_TRACE(c.name);
        dlg_template *t = dlg_begin(100, 100, 100, 173, TITLE, 0);
        ASSERT_NE(t, nullptr);
        c.add(t);
        EXPECT_EQ(at(t, t->item), 100u);
        EXPECT_EQ(at(t, t->cursor), 100 + c.want.b.size());
        expect_bytes(t, 100, c.want.b);
        dlg_add_button(t, 0, 0, 1, 1, 7, "");
        EXPECT_EQ(at(t, t->item), 100 + c.next);
        EXPECT_EQ(t->header[8] | (t->header[9] << 8), 2);
        dlg_free(t);
    }
}

TEST_F(dlg_template_test, items_stay_aligned_and_read_back_as_written)
{
    dlg_template *t = dlg_begin(0, 0, 50, 50, "odd", 0);
    ASSERT_NE(t, nullptr);
    const char *texts[] = {"", "a", "ab", "abc", "abcd", "abcde"};
    int n = 0;
    for (const char *s : texts) {
        dlg_add_label(t, n, n, 10, 10, s, 0);
        dlg_add_check(t, n, n, 10, 10, 200 + n, s, WS_DISABLED);
        dlg_add_edit(t, n, n, 10, 10, 300 + n, s, 0);
        dlg_add_updown(t, n, n, 10, 10, 400 + n, 0);
        n += 4;
    }
    host_tmpl d;
    ASSERT_EQ(host_decode_template(t->header, DLG_BLOCK_SIZE, &d), 0);
    ASSERT_EQ(d.count, n);
    EXPECT_EQ(d.ex_style, 0u);
    for (int i = 0; i < d.count; ++i) {
        const host_tmpl_item &it = d.items[i];
        SCOPED_TRACE(testing::Message() << "item " << i << " " << it.class_name);
        EXPECT_EQ(it.offset % 4, 0u);
        EXPECT_EQ(it.ex_style, 0u);
        EXPECT_EQ(it.x, (i / 4) * 4);
        EXPECT_STREQ(it.title, i % 4 == 3 ? "" : texts[i / 4]);
        EXPECT_EQ(it.data_size, i % 4 == 1 ? 2 : 0);
        // Bytes skipped to reach the next item are zero.
        size_t next = i + 1 < d.count ? d.items[i + 1].offset : at(t, t->cursor);
        for (size_t k = it.end; k < next; ++k)
            EXPECT_EQ(t->header[k], 0);
    }
    EXPECT_EQ(d.items[d.count - 1].end, at(t, t->cursor));
    dlg_free(t);
}

TEST_F(dlg_template_test, texts_at_and_past_the_limit)
{
    std::string longest(49, 'x');
    std::string too_long(50, 'y');
    dlg_template *t = dlg_begin(0, 0, 10, 10, longest.c_str(), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(at(t, t->cursor), 22 + 100 + 2 + 26u);
    // A text that does not fit leaves an empty string, so the template still reads.
    dlg_add_label(t, 0, 0, 1, 1, too_long.c_str(), 0);
    dlg_add_button(t, 0, 0, 1, 1, 5, "OK");
    host_tmpl d;
    ASSERT_EQ(host_decode_template(t->header, DLG_BLOCK_SIZE, &d), 0);
    EXPECT_STREQ(d.title, longest.c_str());
    EXPECT_STREQ(d.items[0].title, "");
    EXPECT_STREQ(d.items[1].title, "OK");
    dlg_free(t);
}

TEST_F(dlg_template_test, no_template_when_memory_is_short)
{
    host.global_fail_next = 1;
    EXPECT_EQ(dlg_begin(0, 0, 10, 10, TITLE, 0), nullptr);
    EXPECT_EQ(host.global_live, 0);
}

INT_PTR CALLBACK end_with_42(HWND dlg, UINT msg, WPARAM, LPARAM)
{
    if (msg == WM_INITDIALOG)
        EndDialog(dlg, 42);
    return msg == WM_INITDIALOG;
}

TEST_F(dlg_template_test, run_hands_the_block_to_the_dialog_manager)
{
    auto *inst = reinterpret_cast<HINSTANCE>(0x400000);
    dlg_template *t = dlg_begin(0, 0, 10, 10, TITLE, 0);
    ASSERT_NE(t, nullptr);
    dlg_add_button(t, 0, 0, 1, 1, 5, "OK");
    EXPECT_EQ(dlg_run(t, inst, end_with_42), 42);
    EXPECT_EQ(host.dialog_instance, inst);
    EXPECT_EQ(host.dialog_owner, nullptr);
    EXPECT_EQ(host.dialog_init, 0);
    EXPECT_STREQ(host.tmpl.title, TITLE);
    dlg_free(t);
}

TEST_F(dlg_template_test, run_fails_when_the_updown_class_is_not_registered)
{
    dlg_template *t = dlg_begin(0, 0, 10, 10, TITLE, 0);
    ASSERT_NE(t, nullptr);
    dlg_add_edit(t, 0, 0, 1, 1, 5, "1", 0);
    dlg_add_updown(t, 0, 0, 1, 1, 6, 0);
    EXPECT_EQ(dlg_run(t, nullptr, end_with_42), -1);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    dlg_free(t);
}

} // namespace
