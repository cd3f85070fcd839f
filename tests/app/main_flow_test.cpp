// The Windows program's whole run, from the welcome box to the exit code,
// against the scripted Win32 stand-in and a sample image on disk.

#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "dialog/options_ids.h"
#include "host_ui.h"
#include "patch/patch_run.h"
#include "tools/sample_image.h"

namespace {

using bytes = std::vector<uint8_t>;

std::string game_path()
{
    return testing::TempDir() + "zandor-main-flow-" + std::to_string(getpid()) + "-ZANDOR.EXE";
}

bytes read_bytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(f), {});
}

void write_game(int wc06_state)
{
    std::remove((game_path() + ".bak").c_str());
    sample_recipe r;
    sample_defaults(&r, 150000);
    r.site[SITE_WC06_FIX].state = static_cast<sample_state>(wc06_state);
    ASSERT_EQ(sample_write(game_path().c_str(), &r), 0);
}

void grow_game()
{
    std::FILE *f = std::fopen(game_path().c_str(), "ab");
    std::fputc(0, f);
    std::fclose(f);
}

const char *const GAME = "game";  // stands for the sample's path in a script
const char *const MISSING = "/nonexistent/ZANDOR.EXE";

const host_step OK{STEP_COMMAND, ID_OK, 0};
const host_step CANCEL{STEP_COMMAND, ID_CANCEL, 0};
const host_step CLOSE{STEP_CLOSE, 0, 0};
const host_step ESCAPE{STEP_COMMAND, 2, 0};  // IDCANCEL: not one of ours, ignored

struct flow_case {
    const char *what;
    int wc06_state;
    std::vector<const char *> files;
    std::vector<int> answers;
    std::vector<host_step> steps;
    void (*meddle)();
    bool alloc_fails, create_fails;
    int exit_code;
    std::vector<const char *> boxes;  // captions after the welcome box
    bool changed;  // by the program or by another
};

const flow_case FLOW_CASES[] = {
    {"gave up choosing", SAMPLE_GAME, {nullptr}, {IDOK, IDCANCEL}, {}, nullptr, false, false, 0, {"Error"}, false},
    {"retry, then cancel", SAMPLE_GAME, {nullptr, GAME}, {IDOK, IDRETRY}, {CANCEL}, nullptr, false, false, 0,
     {"Error"}, false},
    {"missing file", SAMPLE_GAME, {MISSING}, {}, {}, nullptr, false, false, -1, {"Error"}, false},
    {"close box", SAMPLE_GAME, {GAME}, {}, {ESCAPE, CLOSE, OK}, nullptr, false, false, 0, {}, false},
    {"OK writes", SAMPLE_GAME, {GAME},
     {},
     {{STEP_POS, ID_START_YEAR_UPDOWN, 2010}, {STEP_CHECK, ID_WC06_CHECK, 1}, {STEP_POS, ID_PROMOTED_UPDOWN, 7},
      {STEP_POS, ID_CLICK_DELAY_UPDOWN, 9}, {STEP_CHECK, ID_EXITGAME_CHECK, 1}, OK},
     nullptr, false, false, 0, {}, true},
    {"file changed while open", SAMPLE_GAME, {GAME}, {}, {OK}, grow_game, false, false, 1, {"Error"}, true},
    {"World Cup 06 fix kept", SAMPLE_PATCHED, {GAME}, {}, {{STEP_POS, ID_START_YEAR_UPDOWN, 2002}, OK}, nullptr,
     false, false, 0, {"Warning"}, true},
    {"no memory for the template", SAMPLE_GAME, {GAME}, {}, {}, nullptr, true, false, 1, {}, false},
    {"dialog cannot be made", SAMPLE_GAME, {GAME}, {}, {}, nullptr, false, true, 1407, {}, false},
};

TEST(main_flow, every_way_through_a_run)
{
    for (const flow_case &c : FLOW_CASES) {
        write_game(c.wc06_state);
        const bytes before = read_bytes(game_path());
        const std::string path = game_path();
        host_reset();
        for (const char *f : c.files)
            host.files.push_back(f == GAME ? path.c_str() : f);
        host.box_answers = c.answers;
        host.steps = c.steps;
        host.meddle = c.meddle;
        host.alloc_fails = c.alloc_fails;
        host.create_fails = c.create_fails;
        host.last_error = 1407;
        host.chooser_rect = RECT{10, 20, 311, 220};
        char args[] = "";
        EXPECT_EQ(WinMain(nullptr, nullptr, args, 1), c.exit_code) << c.what;

        ASSERT_EQ(host.boxes.size(), c.boxes.size() + 1) << c.what;
        EXPECT_EQ(host.boxes[0].caption, "Welcome") << c.what;
        EXPECT_EQ(host.boxes[0].type, 0x800u) << c.what;
        EXPECT_EQ(host.boxes[0].text.substr(0, 36), "Welcome to Velmar's ZANDOR patcher.\n") << c.what;
        for (std::size_t i = 0; i < c.boxes.size(); ++i)
            EXPECT_EQ(host.boxes[i + 1].caption, c.boxes[i]) << c.what;
        if (c.exit_code == 1 && !c.boxes.empty()) {
            EXPECT_EQ(host.boxes[1].text, "Error writing file\n\n" + path + ": " + result_text(RESULT_FILE_CHANGED)
                                              + "\n" + cause_text(CAUSE_CHANGED));
        }
        EXPECT_EQ(read_bytes(path) != before, c.changed) << c.what;
    }
}

// The boxes' texts and types, the chooser's record and where it is put.
TEST(main_flow, boxes_and_chooser)
{
    const std::string path = game_path();
    write_game(SAMPLE_GAME);
    host_reset();
    host.files = {MISSING, nullptr};
    host.box_answers = {IDOK, IDRETRY, IDCANCEL};
    host.chooser_rect = RECT{0, 0, 301, 900};
    char args[] = "";
    EXPECT_EQ(WinMain(nullptr, nullptr, args, 1), -1);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[1].text, std::string("Error opening file\n\n") + MISSING + ": " + cause_text(CAUSE_MISSING));
    EXPECT_EQ(host.boxes[1].type, 0x910u);

    host_reset();
    host.files = {nullptr, nullptr};
    host.box_answers = {IDOK, IDRETRY, IDCANCEL};
    host.chooser_rect = RECT{0, 0, 301, 900};
    EXPECT_EQ(WinMain(nullptr, nullptr, args, 1), 0);
    ASSERT_EQ(host.boxes.size(), 3u);
    EXPECT_EQ(host.boxes[1].text, "Error opening file ");
    EXPECT_EQ(host.boxes[2].type, 0x915u);
    ASSERT_EQ(host.choosers.size(), 2u);
    const OPENFILENAMEA &ofn = host.choosers[0];
    EXPECT_EQ(ofn.lStructSize, 76u);
    EXPECT_EQ(std::string(ofn.lpstrFilter, 26), std::string("Executables\0*.EXE\0All\0*.*\0", 26));
    EXPECT_EQ(ofn.nFilterIndex, 1u);
    EXPECT_EQ(ofn.nMaxFile, 1040u);
    EXPECT_STREQ(ofn.lpstrTitle, "Select your ZANDOR executable");
    EXPECT_EQ(ofn.Flags, 0x201820u);
    // Centred on 1024 x 768; taller than the screen, it keeps its bottom edge on it.
    ASSERT_EQ(host.moves.size(), 2u);
    EXPECT_EQ(host.moves[0].left, 362);
    EXPECT_EQ(host.moves[0].top, -132);
    EXPECT_EQ(host.moves[0].bottom, 768);
}

// What the OK case above wrote, as the next run reads it, and the backup of
// the game as it was, which a second run leaves alone.
TEST(main_flow, ok_writes_what_the_player_chose)
{
    write_game(SAMPLE_GAME);
    const std::string path = game_path();
    const bytes game = read_bytes(path);
    char args[] = "";
    for (int run = 0; run < 2; ++run) {
        host_reset();
        host.files = {path.c_str()};
        host.steps = FLOW_CASES[4].steps;
        ASSERT_EQ(WinMain(nullptr, nullptr, args, 1), 0);
        EXPECT_EQ(read_bytes(path + ".bak"), game);
    }
    EXPECT_EQ(host.controls[ID_CLICK_DELAY_UPDOWN - ID_OK].hi, 6);  // 9 is not offered
    EXPECT_EQ(host.controls[ID_PROMOTED_UPDOWN - ID_OK].lo, 1);
    patch_target *t = nullptr;
    ASSERT_EQ(scan_file(path.c_str(), &t), RESULT_OK);
    EXPECT_EQ(t->start_year, 2010);
    EXPECT_EQ(t->wc06_installed, 1);
    EXPECT_EQ(t->promoted, 7);
    EXPECT_EQ(t->relegated, 3);
    EXPECT_EQ(t->click_delay, 6);
    EXPECT_EQ(t->exitgame_installed, 1);
    EXPECT_EQ(t->bosman_year, 2002);
    close_target(t);
    std::remove((path + ".bak").c_str());
}

// A run gives back every handle and every byte of memory it took.
TEST(main_flow, leaves_nothing_behind)
{
    const std::string path = game_path();
    auto one_run = [&path] {
        write_game(SAMPLE_GAME);
        host_reset();
        host.files = {nullptr, path.c_str()};
        host.box_answers = {IDOK, IDRETRY};
        host.steps = FLOW_CASES[4].steps;
        char args[] = "";
        EXPECT_EQ(WinMain(nullptr, nullptr, args, 1), 0);
        host = host_ui{};  // the stand-in's own records go too
    };
    auto open_handles = [] {
        const std::filesystem::directory_iterator fds("/proc/self/fd");
        return std::distance(begin(fds), end(fds));
    };
    one_run();  // the runtime's own first-use allocations
    const auto handles = open_handles();
    const std::size_t heap = mallinfo2().uordblks;
    one_run();
    EXPECT_EQ(open_handles(), handles);
    EXPECT_EQ(mallinfo2().uordblks, heap);
    std::remove((path + ".bak").c_str());
}

} // namespace
