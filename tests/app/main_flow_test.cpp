// The Windows program's whole run, from the welcome box to the exit code,
// against the scripted Win32 stand-in and a sample image on disk.

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog/options_ids.h"
#include "file_bytes.h"
#include "host_ui.h"
#include "patch/patch_run.h"
#include "tools/sample_image.h"

namespace {

const std::string GAME = testing::TempDir() + "zandor-main-flow-" + std::to_string(getpid()) + "-ZANDOR.EXE";
const char *const MISSING = "/nonexistent/ZANDOR.EXE";

void write_game(int wc06_state)
{
    std::remove((GAME + ".bak").c_str());
    sample_recipe r;
    sample_defaults(&r, 150000);
    r.site[SITE_WC06_FIX].state = static_cast<sample_state>(wc06_state);
    ASSERT_EQ(sample_write(GAME.c_str(), &r), 0);
}

void grow_game()
{
    bytes b = read_file(GAME);
    b.push_back(0);
    write_file(GAME, b);
}

const host_step OK{STEP_COMMAND, ID_OK, 0}, CANCEL{STEP_COMMAND, ID_CANCEL, 0}, CLOSE{STEP_CLOSE, 0, 0};
const host_step ESCAPE{STEP_COMMAND, 2, 0};  // IDCANCEL: not one of ours, ignored
const std::vector<host_step> CHOICES = {{STEP_POS, ID_START_YEAR_UPDOWN, 2010}, {STEP_CHECK, ID_WC06_CHECK, 1},
                                        {STEP_POS, ID_PROMOTED_UPDOWN, 7}, {STEP_POS, ID_CLICK_DELAY_UPDOWN, 9},
                                        {STEP_CHECK, ID_EXITGAME_CHECK, 1}, OK};

struct flow_case {
    const char *what;
    int wc06_state;
    std::vector<const char *> files;  // null: the chooser cancelled; "" the game
    std::vector<int> answers;
    std::vector<host_step> steps;
    void (*meddle)();
    bool alloc_fails, create_fails;
    int exit_code;
    std::string boxes;  // after the welcome box: "caption type text" each, up to the first '\n' of the text
    const char *scan;   // start year, wc06, promoted, relegated, delay, exit fix after; null: unchanged
};

const flow_case FLOW_CASES[] = {
    {"gave up choosing", SAMPLE_GAME, {nullptr}, {IDOK, IDCANCEL}, {}, nullptr, false, false, 0,
     "Error 915 Error opening file |", nullptr},
    {"retry, then cancel", SAMPLE_GAME, {nullptr, ""}, {IDOK, IDRETRY}, {CANCEL}, nullptr, false, false, 0,
     "Error 915 Error opening file |", nullptr},
    {"missing file", SAMPLE_GAME, {MISSING}, {}, {}, nullptr, false, false, -1, "Error 910 Error opening file|", nullptr},
    {"close box", SAMPLE_GAME, {""}, {}, {ESCAPE, CLOSE, OK}, nullptr, false, false, 0, "", nullptr},
    {"OK writes", SAMPLE_GAME, {""}, {}, CHOICES, nullptr, false, false, 0, "", "2010 1 7 3 6 1"},
    {"file changed while open", SAMPLE_GAME, {""}, {}, {OK}, grow_game, false, false, 1,
     "Error 910 Error writing file|", nullptr},
    {"World Cup 06 fix kept", SAMPLE_PATCHED, {""}, {}, {{STEP_POS, ID_START_YEAR_UPDOWN, 2002}, OK}, nullptr, false,
     false, 0, "Warning 830 The World Cup 06 fix could not be removed: the game's original code is not known. "
               "Everything else was written.|", "2002 1 1 3 5 0"},
    {"no memory for the template", SAMPLE_GAME, {""}, {}, {}, nullptr, true, false, 1, "", nullptr},
    {"dialog cannot be made", SAMPLE_GAME, {""}, {}, {}, nullptr, false, true, 1407, "", nullptr},
};

void run(const flow_case &c)
{
    host_reset();
    for (const char *f : c.files)
        host.files.push_back(f != nullptr && *f == '\0' ? GAME.c_str() : f);
    host.box_answers = c.answers;
    host.steps = c.steps;
    host.meddle = c.meddle;
    host.alloc_fails = c.alloc_fails;
    host.create_fails = c.create_fails;
    host.last_error = 1407;
    host.chooser_rect = RECT{0, 0, 301, 900};
    char args[] = "";
    EXPECT_EQ(WinMain(nullptr, nullptr, args, 1), c.exit_code);
}

TEST(main_flow, every_way_through_a_run)
{
    for (const flow_case &c : FLOW_CASES) {
        SCOPED_TRACE(c.what);
        write_game(c.wc06_state);
        const bytes before = read_file(GAME);
        run(c);
        ASSERT_FALSE(host.boxes.empty());
        EXPECT_EQ(host.boxes[0].caption + " " + host.boxes[0].text.substr(0, 36), "Welcome Welcome to Velmar's ZANDOR patcher.\n");
        EXPECT_EQ(host.boxes[0].type, 0x800u);
        std::string boxes;
        for (std::size_t i = 1; i < host.boxes.size(); ++i) {
            char type[8];
            std::snprintf(type, sizeof type, " %x ", host.boxes[i].type);
            boxes += host.boxes[i].caption + type + host.boxes[i].text.substr(0, host.boxes[i].text.find('\n')) + "|";
        }
        EXPECT_EQ(boxes, c.boxes);
        // The boxes that end a run say what failed and why.
        const std::string why = c.exit_code == 1 ? "Error writing file\n\n" + GAME + ": " + result_text(RESULT_FILE_CHANGED)
                                                       + "\n" + cause_text(CAUSE_CHANGED)
                                                 : std::string("Error opening file\n\n") + MISSING + ": " + cause_text(CAUSE_MISSING);
        EXPECT_TRUE((c.exit_code != 1 && c.exit_code != -1) || host.boxes.size() == 1 || host.boxes[1].text == why)
            << host.boxes[1].text;
        // The chooser's record, each time, and where its hook puts it: centred
        // on 1024 x 768, and a window taller than the screen keeps its bottom on it.
        for (const OPENFILENAMEA &ofn : host.choosers) {
            EXPECT_EQ(std::string(ofn.lpstrFilter, 26), std::string("Executables\0*.EXE\0All\0*.*\0", 26));
            EXPECT_TRUE(ofn.lStructSize == 76 && ofn.nFilterIndex == 1 && ofn.nMaxFile == 1040 && ofn.Flags == 0x201820);
            EXPECT_STREQ(ofn.lpstrTitle, "Select your ZANDOR executable");
            EXPECT_EQ(ofn.hwndOwner, nullptr);
        }
        ASSERT_EQ(host.moves.size(), host.choosers.size());
        EXPECT_TRUE(host.moves.empty() || (host.moves[0].left == 362 && host.moves[0].top == -132 && host.moves[0].bottom == 768));
        if (c.scan == nullptr) {
            EXPECT_TRUE(read_file(GAME) == before || c.meddle != nullptr);
            continue;
        }
        // What OK wrote, as the next run reads it; the game as it was kept beside it.
        // The ranges offered: each value in them reads back as itself.
        std::string ranges;
        for (int id = ID_START_YEAR_UPDOWN; id <= ID_CLICK_DELAY_UPDOWN; id += 2)
            ranges += std::to_string(host.controls[id - ID_OK].lo) + "-" + std::to_string(host.controls[id - ID_OK].hi) + " ";
        EXPECT_EQ(ranges, "2001-2020 2001-3000 1-7 0-7 1-6 ");
        EXPECT_EQ(host.controls[ID_PROMOTED_UPDOWN - ID_OK].buddy, &host.controls[ID_PROMOTED_EDIT - ID_OK]);
        patch_target *t = nullptr;
        ASSERT_EQ(scan_file(GAME.c_str(), &t), RESULT_OK);
        char seen[64];
        std::snprintf(seen, sizeof seen, "%d %d %d %d %d %d", t->start_year, t->wc06_installed, t->promoted,
                      t->relegated, t->click_delay, t->exitgame_installed);
        EXPECT_EQ(std::string(seen) + " " + std::to_string(t->bosman_year), std::string(c.scan) + " 2002");
        EXPECT_TRUE(read_file(GAME + ".bak") == before);
        close_target(t);
        run(c);  // a second OK leaves the first backup as it is
        EXPECT_TRUE(read_file(GAME + ".bak") == before);
    }
    std::remove((GAME + ".bak").c_str());
}

// A run gives back every handle and every byte of memory it took.
TEST(main_flow, leaves_nothing_behind)
{
    const flow_case c{"", SAMPLE_GAME, {nullptr, ""}, {IDOK, IDRETRY}, CHOICES, nullptr, false, false, 0, "", ""};
    auto one_run = [&c] {
        write_game(SAMPLE_GAME);
        run(c);
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
    std::remove((GAME + ".bak").c_str());
}

} // namespace
