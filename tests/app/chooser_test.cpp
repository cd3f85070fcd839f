#include <cstring>

#include "app/chooser.h"
#include "app/strings.h"
#include "ui_fixture.h"

namespace {

using chooser_test = ui_test;

constexpr const char *GAME = "C:\\GAMES\\ZANDOR\\ZANDOR.EXE";

TEST_F(chooser_test, asks_the_old_file_dialog_for_an_executable)
{
    const host_file_attempt attempts[] = {{1, GAME, 0}};
    host_script_files(attempts, 1);
    char *chosen = choose_executable();
    ASSERT_NE(chosen, nullptr);
    EXPECT_STREQ(chosen, GAME);
    free_string(chosen);
    EXPECT_EQ(host.box_count, 0);
    ASSERT_EQ(host.file_call_count, 1);

    const host_file_call &c = host.file_calls[0];
    EXPECT_EQ(c.struct_size, 76u);
    EXPECT_EQ(c.owner, nullptr);
    EXPECT_EQ(c.instance, nullptr);
    const char filter[] = "Executables\0*.EXE\0All\0*.*\0";
    ASSERT_EQ(c.filter_len, static_cast<int>(sizeof filter));  // with the list's closing NUL
    EXPECT_EQ(std::memcmp(c.filter, filter, sizeof filter), 0);
    EXPECT_EQ(c.custom_filter, nullptr);
    EXPECT_EQ(c.max_cust_filter, 0u);
    EXPECT_EQ(c.filter_index, 1u);
    EXPECT_NE(c.file, nullptr);
    EXPECT_EQ(c.max_file, 260u);
    EXPECT_STREQ(c.file_at_entry, "");
    EXPECT_EQ(c.file_title, nullptr);
    EXPECT_EQ(c.max_file_title, 0u);
    EXPECT_EQ(c.initial_dir, nullptr);
    EXPECT_STREQ(c.title, "Select your ZANDOR executable");
    EXPECT_EQ(c.flags, 0x1820u);
    EXPECT_EQ(c.def_ext, nullptr);
    EXPECT_EQ(c.cust_data, 0);
    EXPECT_EQ(c.template_name, nullptr);
    EXPECT_EQ(c.hooked, 1);
    EXPECT_EQ(c.hook_result, 1u);
}

TEST_F(chooser_test, retry_reuses_the_record_as_the_last_attempt_left_it)
{
    // The first attempt fails after the user typed a name and moved the type
    // combo to "All".
    const host_file_attempt attempts[] = {{0, "C:\\TYPED\\NAME.EXE", 2}, {0, nullptr, 0}, {1, GAME, 0}};
    const int answers[] = {IDRETRY, IDRETRY};
    host_script_files(attempts, 3);
    host_script_boxes(answers, 2);
    char *chosen = choose_executable();
    ASSERT_NE(chosen, nullptr);
    EXPECT_STREQ(chosen, GAME);
    free_string(chosen);

    ASSERT_EQ(host.file_call_count, 3);
    ASSERT_EQ(host.box_count, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(host.boxes[i].owner, nullptr);
        EXPECT_STREQ(host.boxes[i].text, "Error opening file C:\\TYPED\\NAME.EXE");
        EXPECT_STREQ(host.boxes[i].caption, "Error");
        EXPECT_EQ(host.boxes[i].type, 0x915u);
    }
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(host.file_calls[i].file, host.file_calls[0].file);
        EXPECT_STREQ(host.file_calls[i].file_at_entry, "C:\\TYPED\\NAME.EXE");
        EXPECT_EQ(host.file_calls[i].filter_index, 2u);
    }
}

TEST_F(chooser_test, anything_but_retry_gives_up)
{
    struct give_up_case {
        const char *name;
        BOOL dialog_result;
        int answer;
    };
    const give_up_case cases[] = {
        {"cancel, then Cancel", 0, IDCANCEL},
        {"cancel, then Enter", 0, IDOK},
        {"cancel, then the box fails", 0, 0},
        {"cancel, then Abort", 0, 3},
        {"cancel, then Ignore", 0, 5},
        {"only exactly 1 is success", 2, IDCANCEL},
    };
    for (const give_up_case &c : cases) {
        SCOPED_TRACE(c.name);
        host_reset();
        const host_file_attempt attempts[] = {{c.dialog_result, nullptr, 0}};
        host_script_files(attempts, 1);
        host_script_boxes(&c.answer, 1);
        EXPECT_EQ(choose_executable(), nullptr);
        EXPECT_EQ(host.file_call_count, 1);
        ASSERT_EQ(host.box_count, 1);
        EXPECT_STREQ(host.boxes[0].text, "Error opening file ");
    }
}

TEST_F(chooser_test, file_dialog_is_centred_on_the_screen)
{
    struct centre_case {
        int sx, sy, w, h;
        int x, y;
    };
    const centre_case cases[] = {
        {1024, 768, 301, 200, 362, 284},    // halved separately: 512 - 150
        {1024, 768, 300, 201, 362, 284},
        {800, 600, 800, 600, 0, 0},         // exactly the screen's size
        {640, 480, 639, 479, 1, 1},
        {1024, 768, 1100, 900, -76, -132},  // larger: the far edges stay on screen
        {1024, 768, 1100, 100, -76, 334},
        {1024, 768, 100, 800, 462, -32},
    };
    for (const centre_case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " on " << c.sx << "x" << c.sy);
        host_reset();
        host.screen_cx = c.sx;
        host.screen_cy = c.sy;
        host.chooser_cx = c.w;
        host.chooser_cy = c.h;
        const host_file_attempt attempts[] = {{1, GAME, 0}};
        host_script_files(attempts, 1);
        free_string(choose_executable());
        const host_file_call &call = host.file_calls[0];
        EXPECT_EQ(call.moves, 1);
        EXPECT_EQ(call.repaint, FALSE);
        EXPECT_EQ(call.window_after.left, c.x);
        EXPECT_EQ(call.window_after.top, c.y);
        EXPECT_EQ(call.window_after.right - call.window_after.left, c.w);
        EXPECT_EQ(call.window_after.bottom - call.window_after.top, c.h);
    }
}

TEST_F(chooser_test, hook_leaves_every_other_message_to_the_dialog)
{
    const UINT messages[] = {WM_COMMAND, WM_DESTROY, WM_CLOSE, 0x004E /* WM_NOTIFY */, 0x0110 + 1};
    for (UINT msg : messages)
        EXPECT_EQ(chooser_hook(nullptr, msg, 0, 0), 0u) << msg;
}

} // namespace
