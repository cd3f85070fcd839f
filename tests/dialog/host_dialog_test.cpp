// The stand-in is the tests' picture of the system: these pin down the parts
// of it that the program relies on, as Wine behaves.

#include <cstring>

#include "dialog/dlg_template.h"
#include "ui_fixture.h"

namespace {

using host_dialog_test = ui_test;

void register_updown()
{
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
}

INT_PTR CALLBACK end_at_once(HWND dlg, UINT msg, WPARAM, LPARAM)
{
    if (msg == WM_INITDIALOG)
        EndDialog(dlg, 7);
    return FALSE;
}

TEST_F(host_dialog_test, check_box_size_word_of_one_misreads_the_rest)
{
    register_updown();
    dlg_template *t = dlg_begin(0, 0, 10, 10, "t", 0);
    ASSERT_NE(t, nullptr);
    dlg_add_check(t, 0, 0, 1, 1, 112, "World Cup 06 fix", 0);
    dlg_add_edit(t, 0, 0, 1, 1, 105, "2001", ES_NUMBER);
    dlg_add_updown(t, 0, 0, 1, 1, 104, 0);

    EXPECT_EQ(dlg_run(t, nullptr, end_at_once), 7);
    size_t check_at = host.tmpl.items[0].offset;
    EXPECT_EQ(host.tmpl.items[1].offset, check_at + 72);
    EXPECT_EQ(host.tmpl.items[1].id, 105);
    EXPECT_EQ(host.tmpl.items[2].id, 104);

    // With the size word 1 the parser skips no data and lands
    // 4 bytes early on the next item, and the dialog cannot be created.
    t->header[check_at + 66] = 1;
    EXPECT_EQ(dlg_run(t, nullptr, end_at_once), -1);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(host.tmpl.items[1].offset, check_at + 68);
    dlg_free(t);
}

TEST_F(host_dialog_test, unknown_class_atom_fails_creation)
{
    dlg_template *t = dlg_begin(0, 0, 10, 10, "t", 0);
    ASSERT_NE(t, nullptr);
    dlg_add_button(t, 0, 0, 1, 1, 5, "OK");
    t->item[20] = 0x86;  // no predefined class
    EXPECT_EQ(dlg_run(t, nullptr, end_at_once), -1);
    dlg_free(t);
}

// An edit with an up-down after it, run through a procedure that works the
// up-down in WM_INITDIALOG.
struct updown_step {
    const char *what;
    UINT msg;
    LPARAM lparam;
    const char *typed;       // set as the buddy's text first, when not null
    LRESULT want;
    const char *want_text;   // the buddy's text afterwards
};

const updown_step *steps;
int step_count;

INT_PTR CALLBACK updown_proc(HWND dlg, UINT msg, WPARAM, LPARAM)
{
    if (msg != WM_INITDIALOG)
        return FALSE;
    HWND edit = GetDlgItem(dlg, 5);
    HWND updown = GetDlgItem(dlg, 6);
    for (int i = 0; i < step_count; ++i) {
        const updown_step &s = steps[i];
        SCOPED_TRACE(s.what);
        if (s.typed != nullptr)
            SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.typed));
        EXPECT_EQ(SendMessageA(updown, s.msg, 0, s.lparam), s.want);
        EXPECT_STREQ(edit->text, s.want_text);
    }
    EndDialog(dlg, 0);
    return TRUE;
}

void run_updown(bool thousands, const updown_step *s, int n)
{
    steps = s;
    step_count = n;
    dlg_template *t = dlg_begin(0, 0, 10, 10, "t", 0);
    ASSERT_NE(t, nullptr);
    dlg_add_edit(t, 0, 0, 1, 1, 5, "2001", ES_NUMBER);
    dlg_add_updown(t, 0, 0, 1, 1, 6, 0);
    if (thousands)
        t->item[0] &= static_cast<uint8_t>(~UDS_NOTHOUSANDS);
    EXPECT_EQ(dlg_run(t, nullptr, updown_proc), 0);
    HWND updown = host_control(6);
    ASSERT_NE(updown, nullptr);
    EXPECT_EQ(updown->buddy, host_control(5));  // bound at creation to the item before it
    dlg_free(t);
}

TEST_F(host_dialog_test, updown_keeps_its_buddy_text_as_comctl32_does)
{
    register_updown();
    const updown_step s[] = {
        {"default range 100..0 and value 0; no text at creation", UDM_GETPOS, 0, nullptr, 0x10000 | 0, "2001"},
        {"range leaves value and text", UDM_SETRANGE, MAKELPARAM(2020, 2001), nullptr, 0, "2001"},
        {"set position writes decimal text", UDM_SETPOS, MAKELPARAM(2010, 0), nullptr, 0, "2010"},
        {"set position clamps and returns the previous", UDM_SETPOS, MAKELPARAM(1999, 0), nullptr, 2010, "2001"},
        {"typed valid text", UDM_GETPOS, 0, "2015", 2015, "2015"},
        {"typed text out of range", UDM_GETPOS, 0, "1999", 0x10000 | 2015, "1999"},
        {"trailing garbage", UDM_GETPOS, 0, "2012x", 0x10000 | 2015, "2012x"},
        {"empty text is 0, out of range", UDM_GETPOS, 0, "", 0x10000 | 2015, ""},
        {"spaces and sign are allowed", UDM_GETPOS, 0, " +2016", 2016, " +2016"},
        {"separators are dropped", UDM_GETPOS, 0, "2,017", 2017, "2,017"},
        {"more than 19 characters are not read", UDM_GETPOS, 0, "00000000000000000002018", 0x10000 | 2017,
         "00000000000000000002018"},
    };
    run_updown(false, s, static_cast<int>(std::size(s)));
}

TEST_F(host_dialog_test, updown_without_nothousands_groups_digits)
{
    register_updown();
    const updown_step s[] = {
        {"range", UDM_SETRANGE, MAKELPARAM(3000, 2001), nullptr, 0, "2001"},
        {"grouped", UDM_SETPOS, MAKELPARAM(2500, 0), nullptr, 0, "2,500"},
        {"read back", UDM_GETPOS, 0, nullptr, 2500, "2,500"},
    };
    run_updown(true, s, static_cast<int>(std::size(s)));
}

TEST_F(host_dialog_test, user_actions_reach_only_enabled_controls)
{
    static int commands;
    commands = 0;
    auto proc = [](HWND dlg, UINT msg, WPARAM wparam, LPARAM) -> INT_PTR {
        if (msg == WM_COMMAND && HIWORD(wparam) == BN_CLICKED)
            ++commands;
        if (msg == WM_COMMAND && LOWORD(wparam) == 9)
            EndDialog(dlg, 3);
        return FALSE;
    };
    dlg_template *t = dlg_begin(0, 0, 10, 10, "t", 0);
    ASSERT_NE(t, nullptr);
    dlg_add_check(t, 0, 0, 1, 1, 20, "on", 0);
    dlg_add_check(t, 0, 0, 1, 1, 21, "off", WS_DISABLED);
    dlg_add_edit(t, 0, 0, 1, 1, 22, "12", ES_NUMBER);
    dlg_add_edit(t, 0, 0, 1, 1, 23, "34", ES_NUMBER | WS_DISABLED);
    dlg_add_group(t, 0, 0, 1, 1, "g", 0);
    dlg_add_button(t, 0, 0, 1, 1, 9, "end");
    const host_action script[] = {
        click(20), click(21), type_text(22, "2a0b1"), type_text(23, "99"), click(0xFFFF), click(77), click(9),
    };
    host_script_dialog(script, static_cast<int>(std::size(script)));
    EXPECT_EQ(dlg_run(t, nullptr, proc), 3);
    EXPECT_EQ(host_control(20)->check, 1u);
    EXPECT_EQ(host_control(21)->check, 0u);
    EXPECT_STREQ(host_control(22)->text, "201");
    EXPECT_STREQ(host_control(23)->text, "34");
    EXPECT_EQ(host.refused_actions, 4);
    EXPECT_EQ(commands, 2);
    EXPECT_EQ(host.script_ran_out, 0);
    dlg_free(t);
}

} // namespace
