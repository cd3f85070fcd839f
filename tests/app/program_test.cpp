// The Windows program's tests on the host: the options dialog's logic
// without a window (what OK asks for from what the controls show after the
// scan, every value offered reading back), its template, and the whole run
// from the welcome box to the exit code against the scripted Win32 stand-in,
// on sample images on disk.

#include <malloc.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <source_location>

#include <gtest/gtest.h>

#include "dialog/options_ids.h"
#include "dialog/options_layout.h"
#include "dialog/options_values.h"
#include "file_bytes.h"
#include "host_ui.h"
#include "patch/patch_run.h"
#include "platform/system_dlls.h"
#include "sample_sites.h"

namespace {

using where = std::source_location;

const std::string GAME = testing::TempDir() + "zandor-main-flow-" + std::to_string(getpid()) + "-ZANDOR.EXE";
const char *const MISSING = "/nonexistent/ZANDOR.EXE";

// The Bosman year below its field's range: shown as 2001, left as it is.
void write_game(sample_state wc06)
{
    std::remove((GAME + ".bak").c_str());
    ASSERT_GT(sample_file(GAME.c_str(), {{SITE_WC06_FIX, wc06}, {SITE_BOSMAN_YEAR, SAMPLE_GAME, 1998}}, 150000).size, 0);
}

// A scanned target whose found sites all sit at `ofs`, holding the game's code.
patch_target target(int32_t ofs)
{
    patch_target t{};
    for (const site_entry &e : patch_catalogue)
        t.*e.ofs = ofs;
    t.start_year = 2001, t.bosman_year = 2002, t.click_delay = -1, t.promoted = 1, t.relegated = 3;
    return t;
}

// Each value asked for as NAME=VALUE, then the fix and the conference's own code when asked for.
std::string words(const patch_request &r)
{
    std::string s;
    for (const auto &[name, v] : {std::pair{"start", r.start_year}, {"bosman", r.bosman_year}, {"promoted", r.promoted},
                                  {"relegated", r.relegated}, {"delay", r.click_delay}, {"exit", r.exitgame}})
        s += v.set ? name + ("=" + std::to_string(v.value)) + " " : "";
    return s + (r.wc06 ? "wc06 " : "") + (r.conference_original ? "original " : "");
}

struct request_case {
    where row;
    const char *asked;                                           // as words() says it
    std::vector<std::pair<options_pair, int32_t>> position = {}; // each up-down moved there
    std::vector<std::pair<options_check, int32_t>> check = {};   // each box set so
    std::vector<options_pair> typed_wrong = {};                  // fields holding no number in range
    void (*scan)(patch_target *) = [](patch_target *) {};        // what the scan found, other than the game's
    int bad = -1;                                                // the pair whose typed value stops OK
};

const request_case REQUEST_CASES[] = {
    {.row = where::current(), .asked = "start=2001 bosman=2002 promoted=1 relegated=3 delay=5 exit=0 "},
    // Years left alone, the fix too.
    {.row = where::current(), .asked = "promoted=1 relegated=3 delay=5 exit=0 ",
     .check = {{CHECK_LEAVE_YEARS, 1}, {CHECK_WC06, 1}}},
    // The fix follows the start year.
    {.row = where::current(), .asked = "start=2003 bosman=2002 promoted=1 relegated=3 delay=5 exit=0 wc06 ",
     .position = {{PAIR_START_YEAR, 2003}}, .check = {{CHECK_WC06, 1}}},
    // The game's conference code back, no delay, the exit box plainly checked.
    {.row = where::current(), .asked = "start=2001 bosman=2002 exit=1 original ",
     .check = {{CHECK_KEEP_CONFERENCE, 1}, {CHECK_NO_CLICK_DELAY, 1}, {CHECK_EXITGAME, 1}}},
    // An indeterminate exit box, our block with a delay we do not know.
    {.row = where::current(), .asked = "start=2001 bosman=2002 promoted=1 relegated=3 exit=0 ",
     .check = {{CHECK_EXITGAME, 2}}, .scan = [](patch_target *t) { t->click_delay = -2; }},
    // Absent sites.
    {.row = where::current(), .asked = "bosman=2002 delay=5 ", .check = {{CHECK_WC06, 1}},
     .scan = [](patch_target *t) { t->start_year_ofs = t->conf_promoted_ofs = t->exitgame_ofs = -1; }},
    // One conference block, no delay site.
    {.row = where::current(), .asked = "start=2001 bosman=2002 exit=0 ",
     .scan = [](patch_target *t) { t->conf_counts_ofs = t->click_delay_ofs = -1; }},
    // Values a site cannot take.
    {.row = where::current(), .asked = "exit=0 ", .position = {{PAIR_START_YEAR, 1999}, {PAIR_BOSMAN, 30000},
     {PAIR_PROMOTED, 8}, {PAIR_RELEGATED, 0xff}, {PAIR_CLICK_DELAY, 7}}},
    // The ends of every range.
    {.row = where::current(), .asked = "start=29999 bosman=2000 promoted=7 relegated=7 delay=6 exit=0 ",
     .position = {{PAIR_START_YEAR, 29999}, {PAIR_BOSMAN, 2000}, {PAIR_PROMOTED, 7}, {PAIR_RELEGATED, 7},
                  {PAIR_CLICK_DELAY, 6}}},
    {.row = where::current(), .asked = "start=2001 bosman=2002 promoted=1 relegated=0 delay=1 exit=0 ",
     .position = {{PAIR_PROMOTED, 1}, {PAIR_RELEGATED, 0}, {PAIR_CLICK_DELAY, 1}}},
    // Values a field could not show stay as the file holds them while the
    // field shows what it showed; a year the writer does not take, a count
    // or a delay we do not know, are not written at all.
    {.row = where::current(), .asked = "start=2500 promoted=1 exit=0 wc06 ", .check = {{CHECK_WC06, 1}},
     .scan = [](patch_target *t) { t->start_year = 2500, t->bosman_year = 1998, t->relegated = 9, t->click_delay = -2; }},
    {.row = where::current(), .asked = "start=2019 bosman=2002 promoted=1 relegated=6 delay=4 exit=0 ",
     .position = {{PAIR_START_YEAR, 2019}, {PAIR_BOSMAN, 2002}, {PAIR_PROMOTED, 1}, {PAIR_RELEGATED, 6},
                  {PAIR_CLICK_DELAY, 4}},
     .scan = [](patch_target *t) { t->start_year = 2500, t->bosman_year = 1998, t->relegated = 9, t->click_delay = -2; }},
    // A typed value out of range stops OK where it would be written.
    {.row = where::current(), .asked = "start=2001 bosman=2002 promoted=1 exit=0 ",
     .typed_wrong = {PAIR_CLICK_DELAY, PAIR_RELEGATED}, .bad = PAIR_RELEGATED},
    {.row = where::current(), .asked = "exit=0 original ",
     .check = {{CHECK_LEAVE_YEARS, 1}, {CHECK_KEEP_CONFERENCE, 1}, {CHECK_NO_CLICK_DELAY, 1}},
     .typed_wrong = {PAIR_START_YEAR, PAIR_BOSMAN, PAIR_PROMOTED, PAIR_RELEGATED, PAIR_CLICK_DELAY},
     .scan = [](patch_target *t) { t->bosman_year_ofs = -1; }},
};

TEST(options_dialog, ok_asks_for_what_the_controls_say)
{
    for (const request_case &c : REQUEST_CASES) {
        const testing::ScopedTrace trace(c.row.file_name(), c.row.line(), "");
        patch_target t = target(100);
        c.scan(&t);
        options_values v = options_initial(&t);
        for (const auto &[pair, pos] : c.position)
            v.position[pair] = pos;
        for (const auto &[box, state] : c.check)
            v.check[box] = state;
        for (const options_pair pair : c.typed_wrong)
            v.typed_wrong[pair] = 1;
        patch_request r = options_request(&v, &t);
        EXPECT_EQ(words(r), c.asked);
        EXPECT_EQ(options_bad_pair(&v, &t), c.bad);
        EXPECT_EQ(patch_request_check(&r), RESULT_OK);
    }
}

// Under the write-error box's first line: what failed and why, then, when a
// site could not be put back, the way back; a small buffer cuts it short.
TEST(options_dialog, a_failed_write_says_why_and_the_way_back)
{
    patch_outcome o = outcome_of(RESULT_WRITE_FAILED, -1, CAUSE_DISK_FULL);
    const std::string failed = "writing failed part-way: the file may be only partly changed\n"
                               "The disk is full: free some space and try again.";
    const std::string undo = "\nTo undo it, copy C:\\Games\\ZANDOR.EXE.bak back over the file.";
    char text[1024];
    // Enough room for all, then for the first lines and a newline, then for the first lines alone.
    for (const auto &[unrestored, room, says] : {std::tuple{0, sizeof text, failed}, {1, sizeof text, failed + undo},
                                                 {1, failed.size() + 2, failed + "\n"}, {1, failed.size() + 1, failed}}) {
        o.unrestored = unrestored;
        options_failure_text(&o, "C:\\Games\\ZANDOR.EXE", text, room);
        EXPECT_EQ(text, says);
    }
}

// After OK, the "Done" box names each setting changed in the dialog's words
// (the conference once), the backup and the way back; or says that nothing
// changed, or that nothing could be written.
TEST(options_dialog, done_says_what_ok_changed)
{
    patch_target t{};
    t.path = const_cast<char *>("C:\\Games\\ZANDOR.EXE");
    t.start_year_ofs = t.exitgame_ofs = t.conf_counts_ofs = t.conf_promoted_ofs = -1;
    const plan_line year = {SITE_START_YEAR, 9, "year 2001", "year 2010", true},
                    exit_same = {SITE_EXITGAME, 99, "installed", "installed", false},
                    counts = {SITE_CONF_COUNTS, 20, "game's code", "promoted 5, relegated 3", true},
                    promoted = {SITE_CONF_PROMOTED, 40, "game's code", "promoted 5", true};
    const std::string undo = "\n\nThe game as it was is kept in ZANDOR.EXE.bak.\nTo undo the changes, run "
                             "zandor-patcher-cli restore ZANDOR.EXE, or copy ZANDOR.EXE.bak back over ZANDOR.EXE.";
    const struct { where row; bool recognised; std::vector<plan_line> lines; int backup; std::string says; } cases[] = {
        {where::current(), false, {}, -1, "No part of ZANDOR.EXE was recognised as ZANDOR.EXE's, so nothing could be written."},
        {where::current(), true, {}, -1, "Nothing was changed: ZANDOR.EXE already holds these settings."},
        {where::current(), true, {exit_same}, 0, "Nothing was changed: ZANDOR.EXE already holds these settings." + undo},
        {where::current(), true, {year, exit_same, counts, promoted}, 1,
         "Game starts: year 2001 -> year 2010\nConference league: game's code -> promoted 5, relegated 3" + undo},
        {where::current(), true, {promoted}, 1, "Conference league: game's code -> promoted 5" + undo},
        {where::current(), true, {counts, promoted}, 1, "Conference league: game's code -> promoted 5, relegated 3" + undo},
    };
    for (const auto &c : cases) {
        const testing::ScopedTrace trace(c.row.file_name(), c.row.line(), "");
        t.exitgame_ofs = c.recognised ? 99 : -1;
        options_done done{};
        std::copy(c.lines.begin(), c.lines.end(), done.lines);
        done.count = static_cast<int>(c.lines.size()), done.backup = c.backup;
        char text[1024];
        options_done_text(&done, &t, text, sizeof text);
        EXPECT_EQ(text, c.says);
    }
}

// The bytes that the dialog managers of Windows and Wine were seen to take,
// for every site found, none, and a mix that tells the enabling rules apart.
TEST(options_dialog, template_bytes)
{
    const struct { const char *file; int32_t ofs[SITE_COUNT]; } cases[] = {
        {"all-found.hex", {100, 100, 100, 100, 100, 100, 100}},
        {"none-found.hex", {-1, -1, -1, -1, -1, -1, -1}},
        {"some-found.hex", {100, -1, -1, 100, -1, 100, -1}},
    };
    for (const auto &c : cases) {
        std::ifstream f(std::string(TEMPLATE_DIR) + "/" + c.file);
        std::vector<uint8_t> want;
        for (unsigned b = 0; f >> std::hex >> b;)
            want.push_back(static_cast<uint8_t>(b));
        patch_target t = target(100);
        for (int s = 0; s < SITE_COUNT; ++s)
            t.*patch_catalogue[s].ofs = c.ofs[s];
        dlg_template *d = layout_options_dialog(&t);
        ASSERT_NE(d, nullptr);
        want.resize(DLG_BLOCK_SIZE);  // the rest of the block stays zero
        EXPECT_EQ(std::vector<uint8_t>(d->header, d->header + DLG_BLOCK_SIZE), want) << c.file;
        dlg_free(d);
    }
}

const host_step OK{STEP_COMMAND, ID_OK, 0}, CANCEL{STEP_COMMAND, ID_CANCEL, 0}, CLOSE{STEP_CLOSE, 0, 0};
const host_step ESCAPE{STEP_COMMAND, IDCANCEL, 0};  // not one of ours, ignored
const std::vector<host_step> CHOICES = {{STEP_POS, ID_START_YEAR_UPDOWN, 2010}, {STEP_CHECK, ID_WC06_CHECK, 1},
                                        {STEP_POS, ID_PROMOTED_UPDOWN, 7}, {STEP_POS, ID_CLICK_DELAY_UPDOWN, 6},
                                        {STEP_CHECK, ID_EXITGAME_CHECK, 1}, OK};

// What a scan reads in the file after a run that wrote it: the start year,
// the fix installed, promoted, relegated, the delay, the exit installed.
using scanned = std::array<int, 6>;

struct flow_case {
    where row;
    host_ui script;                    // the player's part, and what the system fails
    std::vector<host_box> boxes = {};  // after the welcome box, the first line of each text
    std::optional<scanned> after = {}; // none: the file as it was
    int exit_code = 0;
    sample_state wc06_state = SAMPLE_GAME;
};

const char *const THE_GAME = GAME.c_str();
const host_box RETRY = {"Error", 0x915, "Error opening file "}, DONE = {"Done", 0x2840, "Game starts: year 2001 -> year 2010"};

const flow_case FLOW_CASES[] = {
    // Gave up choosing; retried, then cancelled; a missing file.
    {.row = where::current(), .script = {.files = {nullptr}, .box_answers = {IDOK, IDCANCEL}}, .boxes = {RETRY}},
    {.row = where::current(), .script = {.files = {nullptr, THE_GAME}, .box_answers = {IDOK, IDRETRY}, .steps = {CANCEL}},
     .boxes = {RETRY}},
    {.row = where::current(), .script = {.files = {MISSING}}, .boxes = {{"Error", 0x910, "Error opening file"}},
     .exit_code = -1},
    // The close box.
    {.row = where::current(), .script = {.files = {THE_GAME}, .steps = {ESCAPE, CLOSE, OK}}},
    {.row = where::current(), .script = {.files = {THE_GAME}, .steps = CHOICES}, .boxes = {DONE},
     .after = scanned{2010, 1, 7, 3, 6, 1}},
    // The player is told, and the dialog stays open until a value in range.
    {.row = where::current(),
     .script = {.files = {THE_GAME},
                .steps = {{STEP_POS, ID_START_YEAR_UPDOWN, 1999}, {STEP_POS, ID_CLICK_DELAY_UPDOWN, 4}, OK,
                          {STEP_POS, ID_START_YEAR_UPDOWN, 2010}, OK}},
     .boxes = {{"Error", 0x2810, "Game starts: choose a year from 2001 to 2020."}, DONE},
     .after = scanned{2010, 0, 1, 3, 4, 0}},
    // The file grown while the dialog is open.
    {.row = where::current(),
     .script = {.files = {THE_GAME}, .steps = {OK},
                .meddle = [] { std::filesystem::resize_file(GAME, std::filesystem::file_size(GAME) + 1); }},
     .boxes = {{"Error", 0x2910, "Error writing file"}}, .exit_code = 1},
    {.row = where::current(), .script = {.files = {THE_GAME}, .steps = {{STEP_POS, ID_START_YEAR_UPDOWN, 2002}, OK}},
     .boxes = {{"Warning", 0x2830, "The World Cup 06 fix could not be removed: the game's original code is not known. "
                                   "Everything else was written."},
               {"Done", 0x2840, "Game starts: year 2001 -> year 2002"}},
     .after = scanned{2002, 1, 1, 3, 5, 0}, .wc06_state = SAMPLE_PATCHED},
    // No memory for the template; the dialog cannot be made.
    {.row = where::current(), .script = {.files = {THE_GAME}, .alloc_fails = true}, .exit_code = 1},
    {.row = where::current(), .script = {.files = {THE_GAME}, .create_fails = true}, .exit_code = 1407},
    // No comdlg32: before the welcome box, which does not come.
    {.row = where::current(), .script = {.files = {THE_GAME}, .dll_missing = "comdlg32.dll"},
     .boxes = {{"Error", 0x810, "Error loading system DLL"}}, .exit_code = 126},
};

void run(const flow_case &c)
{
    host = c.script;
    char args[] = "";
    EXPECT_EQ(WinMain(nullptr, nullptr, args, 1), c.exit_code);
}

TEST(main_flow, every_way_through_a_run)
{
    for (const flow_case &c : FLOW_CASES) {
        const testing::ScopedTrace trace(c.row.file_name(), c.row.line(), "");
        write_game(c.wc06_state);
        const bytes before = read_file(GAME);
        run(c);
        std::vector<host_box> boxes = c.boxes;
        if (c.script.dll_missing == nullptr)
            boxes.insert(boxes.begin(), {"Welcome", 0x800, "Welcome to Velmar's ZANDOR patcher."});
        ASSERT_EQ(host.boxes.size(), boxes.size());
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            const host_box &b = host.boxes[i];
            EXPECT_EQ(std::tuple(b.caption, b.type, b.text.substr(0, b.text.find('\n'))),
                      std::tie(boxes[i].caption, boxes[i].type, boxes[i].text));
        }
        // The boxes that end a run say what failed and why.
        const std::string why = c.exit_code == 1 ? "Error writing file\n\n" + GAME + ": " + result_text(RESULT_FILE_CHANGED)
                                                       + "\n" + cause_text(CAUSE_CHANGED)
                                                 : std::string("Error opening file\n\n") + MISSING + ": " + cause_text(CAUSE_MISSING);
        EXPECT_TRUE((c.exit_code != 1 && c.exit_code != -1) || host.boxes.size() == 1 || host.boxes[1].text == why)
            << host.boxes[1].text;
        // The chooser opens on the executables' pattern, each time; its hook
        // puts it centred on 1024 x 768, and a window taller than the screen
        // keeps its bottom on it.
        for (const OPENFILENAMEA &ofn : host.choosers) {
            const char *shown = ofn.lpstrFilter; // past the descriptions and patterns before it
            for (DWORD i = 1; i < 2 * ofn.nFilterIndex; ++i)
                shown += std::strlen(shown) + 1;
            EXPECT_STREQ(shown, "*.EXE");
            EXPECT_EQ(ofn.hwndOwner, nullptr); // no window of ours is open yet
        }
        ASSERT_EQ(host.moves.size(), host.choosers.size());
        EXPECT_TRUE(host.moves.empty() || (host.moves[0].left == 362 && host.moves[0].top == -132 && host.moves[0].bottom == 768));
        EXPECT_TRUE(host.moves.size() < 2 || (host.moves[1].left == 362 && host.moves[1].top == 284));
        if (!c.after) {
            // Nothing written or made: a file grown while the dialog was open
            // stays as the other program left it.
            bytes left = before;
            left.resize(before.size() + (c.script.meddle != nullptr ? 1 : 0));
            EXPECT_TRUE(read_file(GAME) == left && !std::filesystem::exists(GAME + ".bak"));
            continue;
        }
        // What OK wrote, as the next run reads it; the game as it was kept beside it.
        // Each up-down offers its pair's range, its field as the buddy.
        for (const updown_pair &p : options_pairs) {
            const HWND__ &updown = host.controls[p.updown - ID_OK];
            EXPECT_TRUE(updown.lo == p.min && updown.hi == p.max && updown.buddy == &host.controls[p.edit - ID_OK]);
        }
        patch_target *t = nullptr;
        ASSERT_EQ(scan_file(GAME.c_str(), &t), RESULT_OK);
        EXPECT_EQ(scanned({t->start_year, t->wc06_installed, t->promoted, t->relegated, t->click_delay, t->exitgame_installed}),
                  *c.after);
        EXPECT_EQ(t->bosman_year, 1998);
        EXPECT_TRUE(read_file(GAME + ".bak") == before);
        close_target(t);
        run(c);  // a second OK leaves the first backup as it is
        EXPECT_TRUE(read_file(GAME + ".bak") == before);
    }
    std::remove((GAME + ".bak").c_str());
}

// Every DLL the patcher loads comes from the system folder, on every Windows:
// the search is limited before the first load, and where it cannot be, the
// DLLs Windows would look for beside the program are loaded first, by full
// path. A path that does not fit is never cut short and loaded.
TEST(system_dlls, come_from_the_system_folder_alone)
{
    const std::string longest(MAX_PATH - 1 - std::strlen("\\comctl32.dll"), 'C');
    // The system's part (the DLL not there, the Windows, the folder), and the DLL said to be missing.
    const struct { where row; host_ui script; const char *missing = nullptr; } cases[] = {
        {where::current(), {.system_folder = "C:\\W"}},                           // Windows 8 and later
        {where::current(), {.old_windows = true, .system_folder = "C:\\W"}},      // Windows 7 without the update
        {where::current(), {.dll_missing = "profapi.dll", .old_windows = true, .system_folder = "C:\\W"}},  // XP
        {where::current(), {.default_dirs_fail = true, .system_folder = "C:\\W"}}, // the search cannot be limited
        {where::current(), {.old_windows = true, .system_folder = longest}},      // the longest system folder
        {where::current(), {.old_windows = true, .system_folder = longest + "C"}, "comctl32.dll"},  // one longer
        {where::current(), {.old_windows = true, .system_folder = ""}, "comctl32.dll"},  // no system folder to be had
        {where::current(), {.dll_missing = "comdlg32.dll", .system_folder = "C:\\W"}, "comdlg32.dll"},
    };
    for (const auto &c : cases) {
        const testing::ScopedTrace trace(c.row.file_name(), c.row.line(), "");
        host = c.script;
        system_dlls dlls{};
        const char *missing = system_dlls_load(&dlls);
        EXPECT_STREQ(missing, c.missing);
        EXPECT_TRUE(missing != nullptr || (dlls.init_common_controls == InitCommonControlsEx && dlls.get_open_file_name == GetOpenFileNameA));
        const bool limited = !c.script.old_windows && !c.script.default_dirs_fail;
        EXPECT_EQ(host.dll_calls.at(0), c.script.old_windows ? "dll-directory ''" : "default 2048");
        std::string loaded;  // the file names, in order
        for (const std::string &call : host.dll_calls)
            if (call.starts_with("load ")) {
                EXPECT_TRUE(call.starts_with(limited ? "load 2048 " : "load 8 " + c.script.system_folder + "\\") && call.ends_with(".dll")) << call;
                loaded += call.substr(call.find_last_of(" \\") + 1) + " ";
            }
        // Ours last, after the others Windows would look for where the search is not limited; nothing
        // without the system folder.
        const std::string ours = c.missing == nullptr || c.script.dll_missing != nullptr ? "comctl32.dll comdlg32.dll " : "";
        EXPECT_TRUE(loaded.ends_with(ours) && (loaded.size() > ours.size()) == (!limited && !c.script.system_folder.empty()))
            << loaded;
    }
}

// Runs give back every handle and every byte of memory they took, whichever
// way they end.
TEST(main_flow, leaves_nothing_behind)
{
    // The open handles and the heap in use after running the table.
    auto in_use_after_runs = [] {
        for (const flow_case &c : FLOW_CASES) {
            write_game(c.wc06_state);
            run(c);
        }
        host = host_ui{};  // the stand-in's own records go too
        const std::filesystem::directory_iterator fds("/proc/self/fd");
        return std::pair{std::distance(begin(fds), end(fds)), mallinfo2().uordblks};
    };
    const auto first = in_use_after_runs();  // past the runtime's own first-use allocations
    EXPECT_EQ(in_use_after_runs(), first);
    std::remove((GAME + ".bak").c_str());
    std::remove(GAME.c_str());
}

} // namespace
