#include <functional>
#include <sstream>
#include <unistd.h>

#include "dialog/options_ids.h"
#include "ui_fixture.h"

namespace {

HINSTANCE const INSTANCE = reinterpret_cast<HINSTANCE>(0x400000);

struct main_flow_test : ui_test {
    std::string path;
    bytes before;

    void game(int start_year = 2001)
    {
        path = scratch_path("ZANDOR.EXE");
        sample_recipe recipe = default_sample();
        recipe.site[SITE_START_YEAR].param = start_year;
        write_sample(path, recipe);
        before = read_file(path);
    }
    int run(const std::vector<host_file_attempt> &files, const std::vector<int> &answers,
            const std::vector<host_action> &actions)
    {
        host_script_files(files.data(), static_cast<int>(files.size()));
        host_script_boxes(answers.data(), static_cast<int>(answers.size()));
        host_script_dialog(actions.data(), static_cast<int>(actions.size()));
        char args[] = "ignored /x";
        return WinMain(INSTANCE, nullptr, args, 1);
    }
};

TEST_F(main_flow_test, welcome_text)
{
    EXPECT_EQ(run({}, {IDOK, IDCANCEL}, {}), 0);
    ASSERT_GE(host.box_count, 1);
    const host_box_call &b = host.boxes[0];
    EXPECT_EQ(b.owner, nullptr);
    EXPECT_STREQ(b.caption, "Welcome");
    EXPECT_EQ(b.type, 0x800u);

    std::string text = b.text;
    EXPECT_EQ(text.find('\r'), std::string::npos);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const char *const fixed[] = {
        "Welcome to Velmar's ZANDOR patcher.",
        "",
        "This patcher allows you to do some",
        "simple changes to your ZANDOR game.",
        "",
        "Read the accompanying README for",
        "details about the patces.",
        "",
        "A word of warning - take a backup",
        "copy of your ZANDOR.EXE -- you are",
        "using this on your own risk!!",
        "",
    };
    ASSERT_EQ(lines.size(), 14u);
    for (size_t i = 0; i < std::size(fixed); ++i)
        EXPECT_EQ(lines[i], fixed[i]) << "line " << i + 1;
    EXPECT_FALSE(lines[12].empty());
    EXPECT_NE(lines[13].find("README"), std::string::npos);
}

void remove_game(void *p)
{
    unlink(static_cast<std::string *>(p)->c_str());
}

TEST_F(main_flow_test, exit_codes)
{
    struct flow_case {
        const char *name;
        bool choose_game;                    // else the chooser is cancelled
        const char *other_path;              // chosen instead of the game
        std::function<void()> system;        // how the system misbehaves
        std::vector<host_action> actions;
        int exit_code;
        std::vector<std::string> boxes;      // after the welcome box
        int dialogs;
        bool written;
    };
    std::string *game_path = &path;
    const flow_case cases[] = {
        {"user gives up", false, nullptr, nullptr, {}, 0, {"Error opening file "}, 0, false},
        {"file cannot be read", false, "/nonexistent/ZANDOR.EXE", nullptr, {}, -1, {"Error opening file"}, 0, false},
        {"OK", true, nullptr, nullptr, {type_text(ID_START_YEAR_EDIT, "2010"), click(ID_OK)}, 0, {}, 1, true},
        {"Cancel", true, nullptr, nullptr, {type_text(ID_START_YEAR_EDIT, "2010"), click(ID_CANCEL)}, 0, {}, 1, false},
        {"close box", true, nullptr, nullptr, {close_box()}, 0, {}, 1, false},
        {"write fails", true, nullptr, nullptr,
         {type_text(ID_START_YEAR_EDIT, "2010"), call_out(remove_game, game_path), click(ID_OK)}, 1,
         {"Error writing file"}, 1, false},
        {"dialog cannot be created", true, nullptr, [] { host.dialog_fail_error = ERROR_CANNOT_FIND_WND_CLASS; }, {},
         1407, {}, 1, false},
        {"dialog cannot be created, other error", true, nullptr, [] { host.dialog_fail_error = 8; }, {}, 8, {}, 1,
         false},
        {"no memory for the template", true, nullptr, [] { host.global_fail_next = 1; }, {}, 1, {}, 0, false},
    };
    for (const flow_case &c : cases) {
        SCOPED_TRACE(c.name);
        host_reset();
        game();
        if (c.system)
            c.system();
        std::vector<host_file_attempt> files;
        if (c.choose_game)
            files.push_back({1, path.c_str(), 0});
        else if (c.other_path != nullptr)
            files.push_back({1, c.other_path, 0});
        EXPECT_EQ(run(files, {IDOK, IDCANCEL}, c.actions), c.exit_code);
        ASSERT_EQ(host.box_count, 1 + static_cast<int>(c.boxes.size()));
        for (size_t i = 0; i < c.boxes.size(); ++i) {
            EXPECT_EQ(host.boxes[i + 1].text, c.boxes[i]);
            EXPECT_STREQ(host.boxes[i + 1].caption, "Error");
            EXPECT_EQ(host.boxes[i + 1].type, c.exit_code == 0 ? 0x915u : 0x910u);
        }
        EXPECT_EQ(host.dialog_calls, c.dialogs);
        EXPECT_EQ(host.script_ran_out, 0);
        if (access(path.c_str(), F_OK) == 0) {
            EXPECT_EQ(read_file(path) != before, c.written);
        }
    }
}

TEST_F(main_flow_test, dialog_shows_the_chosen_file)
{
    game(2007);
    EXPECT_EQ(run({{1, path.c_str(), 0}}, {}, {click(ID_CANCEL)}), 0);
    EXPECT_EQ(host.updown_registered, 1);
    EXPECT_EQ(host.dialog_instance, INSTANCE);
    EXPECT_EQ(host.dialog_owner, nullptr);
    EXPECT_STREQ(host.dialog->text, "Velmar's ZANDOR patcher");
    EXPECT_STREQ(host_control(ID_START_YEAR_EDIT)->text, "2007");
    EXPECT_STREQ(host_control(ID_BOSMAN_EDIT)->text, "2002");
}

} // namespace
