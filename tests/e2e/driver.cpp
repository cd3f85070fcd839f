// End-to-end scenarios: the real zandor-patcher.exe driven from another
// Win32 process as a player would drive it (finding its windows by title,
// reading and setting its controls, pressing its buttons), each scenario on
// its own fresh sample image. Every wait has a timeout.

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <source_location>
#include <string>
#include <vector>

#include "patch/results.h"
#include "tools/sample_image.h"

namespace {

using where = std::source_location;
using bytes = std::vector<uint8_t>;

constexpr int WAIT_MS = 30000; // a cold Wine start can be slow
constexpr int POLL_MS = 50;
constexpr int64_t SAMPLE_SIZE = 300000; // several 64 KiB search windows
const char *patcher = "";
int failures = 0, run_number = 0;

// ---- playing the user of another process ----

// Records a failed expectation of the running scenario at the checking line.
__attribute__((format(gnu_printf, 2, 3))) void fail(where w, const char *fmt, ...)
{
    ++failures;
    std::printf("    FAIL (run %d, line %u): ", run_number, static_cast<unsigned>(w.line()));
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::printf("\n");
}
#define EXPECT(cond, ...) ((cond) ? (void)0 : fail(where::current(), __VA_ARGS__))

// A message that a busy target cannot hang; -1 when it times out.
LRESULT send(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(w, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result) ? static_cast<LRESULT>(result)
                                                                                : -1;
}

std::string text_of(HWND w)
{
    char buf[1024] = {};
    return send(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf)) < 0 ? "<no text>" : buf;
}

void press(HWND dlg, int id)
{
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

// A visible top-level window of `pid` with exactly this title; null on timeout.
HWND wait_window(DWORD pid, const char *title)
{
    for (int waited = 0; waited <= WAIT_MS; waited += POLL_MS) {
        for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner != pid || !IsWindowVisible(w) || text_of(w) != title)
                continue;
            // A modal dialog shows itself when its loop first goes idle: let
            // it finish setting up before anyone looks.
            Sleep(200);
            return w;
        }
        Sleep(POLL_MS);
    }
    return nullptr;
}

// One request to the e2e script, served outside Wine: "keys KEY",
// "keys type TEXT", "immutable FILE on|off". True when it was done.
bool host(const std::string &line)
{
    std::FILE *f = std::fopen("host.req.tmp", "wb");
    if (f == nullptr)
        return false;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
    // The script polls for host.req: it must never see a half-written one.
    MoveFileExA("host.req.tmp", "host.req", MOVEFILE_REPLACE_EXISTING);
    for (int waited = 0; waited < WAIT_MS && (f = std::fopen("host.ack", "rb")) == nullptr; waited += POLL_MS)
        Sleep(POLL_MS);
    char reply[3] = {};
    if (f == nullptr)
        return false;
    std::fread(reply, 1, 2, f);
    std::fclose(f);
    DeleteFileA("host.ack");
    return std::strcmp(reply, "ok") == 0;
}

bool read_file(const std::string &path, bytes *out)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    out->assign(2 * SAMPLE_SIZE, 0);
    out->resize(std::fread(out->data(), 1, out->size(), f));
    std::fclose(f);
    return true;
}

// ---- what a sample holds, what the dialog shows of it, what OK makes of it ----

// The five edit/up-down pairs (edits 103..111, up-downs 102..110) and the
// five check boxes (112..116), in id order.
enum value_index { START, BOSMAN, PROMOTED, RELEGATED, DELAY };
enum tick_index { WC06, LEAVE_YEARS, KEEP_CONF, NO_DELAY, EXITGAME };
const int RANGE[5][2] = {{2001, 2020}, {2001, 3000}, {1, 7}, {0, 7}, {1, 6}};

struct choices {
    int value[5];
    bool tick[5];
};

bool within(int v, int lo, int hi)
{
    return v >= lo && v <= hi;
}

// The conference blocks are usable only as a pair that agrees on a promoted count.
bool usable(const sample_recipe &r, int site)
{
    auto known = [](const sample_site &s) { return s.state == SAMPLE_GAME || s.state == SAMPLE_PATCHED; };
    const sample_site &counts = r.site[SITE_CONF_COUNTS], &prom = r.site[SITE_CONF_PROMOTED];
    if (site != SITE_CONF_COUNTS && site != SITE_CONF_PROMOTED)
        return known(r.site[site]);
    return known(counts) && known(prom)
           && (prom.state == SAMPLE_GAME
               || (counts.state == SAMPLE_PATCHED && counts.param == prom.param && within(prom.param, 1, 7)));
}

// What a pair shows first; the up-down clamps it to its range.
int shown(const sample_recipe &r, int k)
{
    const sample_site &counts = r.site[SITE_CONF_COUNTS], &delay = r.site[SITE_CLICK_DELAY];
    int year_site = k == START ? SITE_START_YEAR : SITE_BOSMAN_YEAR;
    int v = usable(r, year_site) ? r.site[year_site].param : 0;
    // A patched promoted block takes its count from conf_counts, even when they disagree.
    bool both_patched = r.site[SITE_CONF_PROMOTED].state == SAMPLE_PATCHED && counts.state == SAMPLE_PATCHED;
    if (k == PROMOTED)
        v = both_patched && within(counts.param, 1, 7) ? counts.param : 1;
    if (k == RELEGATED)
        v = counts.state == SAMPLE_PATCHED ? counts.param2 : 3;
    if (k == DELAY)
        v = delay.state == SAMPLE_PATCHED && within(delay.param, 1, 6) ? delay.param : 5;
    return std::clamp(v, RANGE[k][0], RANGE[k][1]);
}

// A typed value beyond the up-down's range does not parse: the position shown stays.
int taken(const sample_recipe &r, const choices &c, int k)
{
    return within(c.value[k], RANGE[k][0], RANGE[k][1]) ? c.value[k] : shown(r, k);
}

// Turns `r` into the sample that OK should leave behind.
void write_model(sample_recipe *r, const choices &c)
{
    const sample_recipe was = *r;
    sample_site *s = r->site;
    if (usable(was, SITE_CLICK_DELAY) && !c.tick[NO_DELAY]) {
        s[SITE_CLICK_DELAY].state = SAMPLE_PATCHED;
        s[SITE_CLICK_DELAY].param = taken(was, c, DELAY);
    }
    if (usable(was, SITE_BOSMAN_YEAR) && !c.tick[LEAVE_YEARS])
        s[SITE_BOSMAN_YEAR].param = taken(was, c, BOSMAN);
    if (usable(was, SITE_START_YEAR) && !c.tick[LEAVE_YEARS]) {
        s[SITE_START_YEAR].param = taken(was, c, START);
        // From 2003 on the World Cup fix goes in; before, the game's code
        // stays, and an installed fix too (the game's code being unknown).
        if (usable(was, SITE_WC06_FIX) && c.tick[WC06] && s[SITE_START_YEAR].param > 2002)
            s[SITE_WC06_FIX].state = SAMPLE_PATCHED;
    }
    if (usable(was, SITE_EXITGAME))
        s[SITE_EXITGAME].state = c.tick[EXITGAME] ? SAMPLE_PATCHED : SAMPLE_GAME;
    if (usable(was, SITE_CONF_COUNTS)) {
        s[SITE_CONF_COUNTS].state = s[SITE_CONF_PROMOTED].state =
            c.tick[KEEP_CONF] ? SAMPLE_GAME : SAMPLE_PATCHED;
        s[SITE_CONF_COUNTS].param = s[SITE_CONF_PROMOTED].param = taken(was, c, PROMOTED);
        s[SITE_CONF_COUNTS].param2 = taken(was, c, RELEGATED);
    }
}

// ---- the options dialog ----

constexpr int ALWAYS = SITE_COUNT, ANY_YEAR = SITE_COUNT + 1;

struct control {
    int id;
    const char *text; // null: the pair's value
    int needs;        // the site that enables it; the World Cup fix needs the start year too
};

// clang-format off
const control CONTROLS[] = {
    {0xFFFF, "Years", ALWAYS}, {103, nullptr, SITE_START_YEAR}, {102, "", SITE_START_YEAR},
    {0xFFFF, "Game starts", SITE_START_YEAR}, {112, "World Cup 06 fix", SITE_WC06_FIX},
    {105, nullptr, SITE_BOSMAN_YEAR}, {104, "", SITE_BOSMAN_YEAR},
    {0xFFFF, "Bosman ruling", SITE_BOSMAN_YEAR}, {113, "Leave years untouched", ANY_YEAR},
    {0xFFFF, "Conference league", ALWAYS}, {107, nullptr, SITE_CONF_COUNTS}, {106, "", SITE_CONF_COUNTS},
    {0xFFFF, "Nof promoted", SITE_CONF_COUNTS}, {109, nullptr, SITE_CONF_COUNTS}, {108, "", SITE_CONF_COUNTS},
    {0xFFFF, "Nof relegated", SITE_CONF_COUNTS}, {114, "Don't touch conference", SITE_CONF_COUNTS},
    {0xFFFF, "Misc fixes", ALWAYS}, {111, nullptr, SITE_CLICK_DELAY}, {110, "", SITE_CLICK_DELAY},
    {0xFFFF, "Click repeat delay", SITE_CLICK_DELAY}, {115, "Don't install click delay", SITE_CLICK_DELAY},
    {116, "Close window exits game", SITE_EXITGAME}, {100, "OK", ALWAYS}, {101, "Cancel", ALWAYS},
};
// clang-format on

bool enabled(const sample_recipe &r, int needs)
{
    bool start = usable(r, SITE_START_YEAR);
    if (needs == ALWAYS || needs == ANY_YEAR)
        return needs == ALWAYS || start || usable(r, SITE_BOSMAN_YEAR);
    return usable(r, needs) && (needs != SITE_WC06_FIX || start);
}

// Each control in creation order: its id, whether it is enabled, what it
// shows, and an up-down's range and position.
void expect_options(HWND dlg, const sample_recipe &r, where w = where::current())
{
    HWND c = GetWindow(dlg, GW_CHILD);
    for (const control &row : CONTROLS) {
        if (c == nullptr)
            return fail(w, "the options dialog ends before control %d", row.id);
        bool check = row.id >= 112 && row.id <= 116,
             updown = row.id >= 102 && row.id <= 110 && row.id % 2 == 0;
        int k = check ? row.id - 112 : (row.id - 102) / 2, id = GetDlgCtrlID(c) & 0xFFFF;
        std::string got = text_of(c), want = row.text != nullptr ? row.text : std::to_string(shown(r, k));
        if (id != row.id || got != want)
            fail(w, "control %d shows \"%s\", expected %d showing \"%s\"", id, got.c_str(), row.id,
                 want.c_str());
        if ((IsWindowEnabled(c) != FALSE) != enabled(r, row.needs))
            fail(w, "control %d is wrongly %s", row.id, IsWindowEnabled(c) ? "enabled" : "disabled");
        int fix = row.id == 112 ? SITE_WC06_FIX : SITE_EXITGAME; // an installed fix starts ticked
        bool tick = (row.id == 112 || row.id == 116) && usable(r, fix) && r.site[fix].state == SAMPLE_PATCHED;
        if (check && (send(c, BM_GETCHECK, 0, 0) == BST_CHECKED) != tick)
            fail(w, "check box %d is wrongly %s", row.id, tick ? "clear" : "ticked");
        LRESULT range = send(c, UDM_GETRANGE, 0, 0), pos = send(c, UDM_GETPOS, 0, 0);
        if (updown && (HIWORD(range) != RANGE[k][0] || LOWORD(range) != RANGE[k][1] || pos != shown(r, k)))
            fail(w, "up-down %d runs %d-%d at %ld, expected %d-%d at %d", row.id, HIWORD(range),
                 LOWORD(range), static_cast<long>(pos), RANGE[k][0], RANGE[k][1], shown(r, k));
        c = GetWindow(c, GW_HWNDNEXT);
    }
    if (c != nullptr)
        fail(w, "the options dialog has more than %zu controls", std::size(CONTROLS));
}

// Types the values and clicks the check boxes that differ, skipping the
// disabled ones as a player must. The file and the next run tell whether
// it took.
void fill(HWND dlg, const choices &c)
{
    for (int k = 0; k < 5; ++k) {
        HWND edit = GetDlgItem(dlg, 103 + 2 * k), box = GetDlgItem(dlg, 112 + k);
        std::string v = std::to_string(c.value[k]);
        if (IsWindowEnabled(edit))
            send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(v.c_str()));
        if (IsWindowEnabled(box) && (send(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != c.tick[k])
            send(box, BM_CLICK, 0, 0);
    }
}

// ---- message boxes and the chooser ----

struct box_spec {
    const char *caption, *text; // one line: all the text; more: how it begins
    int lines;
    bool icon, retry;                 // Retry and Cancel instead of OK
    file_cause cause = CAUSE_NONE;    // the cause the text ends with
};

const box_spec WELCOME = {"Welcome",
                          "Welcome to Velmar's ZANDOR patcher.\n\nThis patcher allows you to do some\n"
                          "simple changes to your ZANDOR game.\n\nRead the accompanying README for\n"
                          "details about the patces.\n\nA word of warning - take a backup\n"
                          "copy of your ZANDOR.EXE -- you are\nusing this on your own risk!!\n\n",
                          14, false, false};
// The first line, a blank one, then the file and why.
const box_spec OPEN_ERROR = {"Error", "Error opening file\n\n", 3, true, false, CAUSE_MISSING};
const box_spec RETRY = {"Error", "Error opening file ", 1, true, true};
// The first line, a blank one, the file and what failed, then why.
const box_spec WRITE_DENIED = {"Error", "Error writing file\n\n", 4, true, false, CAUSE_DENIED};
const box_spec WRITE_IN_USE = {"Error", "Error writing file\n\n", 4, true, false, CAUSE_IN_USE};
const box_spec WRITE_CHANGED = {"Error", "Error writing file\n\n", 4, true, false, CAUSE_CHANGED};
const box_spec WC06_KEPT = {
    "Warning",
    "The World Cup 06 fix could not be removed: the game's original code is not known. "
    "Everything else was written.",
    1, true, false};

// Waits for the box, checks it and answers it: a button id, or 0 for the Enter key.
void meet(DWORD pid, const box_spec &b, int answer, where w = where::current())
{
    HWND box = wait_window(pid, b.caption);
    if (box == nullptr)
        return fail(w, "no \"%s\" box", b.caption);
    std::string text = text_of(GetDlgItem(box, 0xFFFF));
    if (b.lines == 1 ? text != b.text
                     : text.rfind(b.text, 0) != 0 || std::count(text.begin(), text.end(), '\n') != b.lines - 1
                           || text.back() == '\n')
        fail(w, "\"%s\" box says \"%s\"", b.caption, text.c_str());
    if (b.cause != CAUSE_NONE && !text.ends_with(cause_text(b.cause)))
        fail(w, "\"%s\" box says \"%s\", not ending with \"%s\"", b.caption, text.c_str(), cause_text(b.cause));
    // The icon control stays even when the box shows no icon.
    if ((send(GetDlgItem(box, 0x440), STM_GETICON, 0, 0) != 0) != b.icon)
        fail(w, "\"%s\" box %s an icon", b.caption, b.icon ? "lacks" : "shows");
    auto has = [&](int id) { return IsWindowVisible(GetDlgItem(box, id)) != FALSE; };
    if (has(IDOK) == b.retry || has(IDRETRY) != b.retry || has(IDCANCEL) != b.retry)
        fail(w, "\"%s\" box has the wrong buttons", b.caption);
    answer != 0 ? press(box, answer) : (void)host("keys Return");
}

// The old-style chooser, centred by the patcher's hook (screen and window halved apart).
HWND meet_chooser(DWORD pid, const char *filter, where w = where::current())
{
    HWND dlg = wait_window(pid, "Select your ZANDOR executable");
    std::string type = text_of(GetDlgItem(dlg, 0x470));
    if (GetDlgItem(dlg, 0x480) == nullptr || GetDlgItem(dlg, 0x460) == nullptr || type.rfind(filter, 0) != 0)
        fail(w, "no old-style chooser showing %s files (\"%s\")", filter, type.c_str());
    RECT rc{};
    GetWindowRect(dlg, &rc);
    if (std::abs(rc.left + rc.right - GetSystemMetrics(SM_CXSCREEN)) > 1
        || std::abs(rc.top + rc.bottom - GetSystemMetrics(SM_CYSCREEN)) > 1)
        fail(w, "chooser at %ld,%ld is not centred", rc.left, rc.top);
    return dlg;
}

// ---- the scenarios ----

enum way { DONE, OK, CANCEL, CLOSE_BOX, KEYS, RETRY_CHOOSER, MISSING };
enum obstacle { NO_OBSTACLE, IMMUTABLE, HELD_OPEN, GROWN, BLOCK_CHANGED };

struct run_row {
    way how;
    choices c = {};
    int exit_code = 0;
    const box_spec *box = nullptr; // shown after OK
    obstacle ob = NO_OBSTACLE;     // set up just before OK
};

struct scenario {
    const char *name;
    const char *states; // per site in site_id order: - absent, G game, P patched, U unrecognised, D twice
    run_row runs[4];    // on the same file, one after another
    int delay = 5, counted = 1, relegated = 3, promoted = 1;
    const char *folder = nullptr; // where the file lies and the patcher starts, when not here
};

const choices FULL = {{2010, 2005, 3, 2, 3}, {true, false, false, false, true}};
// A typed delay of 9 is beyond the up-down's range, so the delay shown stays.
const choices PARTIAL = {{2004, 2012, 6, 1, 9}, {true, false, false, false, true}};

// clang-format off
const scenario SCENARIOS[] = {
    {"full-run", "GGGGGGG", {{OK, FULL}}},
    // Whatever was changed, Cancel and the close box write nothing.
    {"cancel-and-close", "GGGPPGG", {{CANCEL, FULL}, {CLOSE_BOX, FULL}}, 2},
    // The retried chooser keeps the file type the cancelled one left.
    {"chooser-cancelled", "GGGGGGG", {{RETRY_CHOOSER}}},
    // Wine's old-style chooser accepts a name that is no file; the open fails.
    {"missing-file", "GGGGGGG", {{MISSING, {}, -1}}},
    {"nothing-found", "-------", {{OK, PARTIAL}}},
    // The start year without the World Cup block; one conference block alone is no use.
    {"start-delay-one-conf", "G--P-G-", {{OK, PARTIAL}}, 6, 4, 2, 4},
    // The World Cup block without its start year; the Bosman year alone
    // enables "Leave years untouched"; code we do not know stays disabled.
    {"odd-blocks", "DGGUUPP", {{OK, PARTIAL}}, 6, 4, 2, 4},
    {"conf-disagrees", "GPGPGPP", {{OK, PARTIAL}}, 6, 4, 2, 5},
    // Root writes through mode 0444, under Wine too: only chattr +i stops it.
    {"immutable", "GGGGGGG", {{OK, FULL, 1, &WRITE_DENIED, IMMUTABLE}}},
    // The running game holds its exe: the box says so.
    {"held-open", "GGGGGGG", {{OK, FULL, 1, &WRITE_IN_USE, HELD_OPEN}}},
    // Another program grows the file, or puts code we do not know in the exit block.
    {"grown", "GGGGGGG", {{OK, FULL, 1, &WRITE_CHANGED, GROWN}}},
    {"block-changed", "GGGGGGG", {{OK, FULL, 1, &WRITE_CHANGED, BLOCK_CHANGED}}},
    // Chooser, scan and write in folders outside any ANSI code page (the
    // manifest's UTF-8 one), and in a long name with spaces.
    {"cyrillic-path", "GGGGGGG", {{OK, FULL}}, 5, 1, 3, 1, "Игры ЗАНДОР"},
    {"cjk-path", "GGGGGGG", {{OK, FULL}}, 5, 1, 3, 1, "足球 ゲーム"},
    {"spaces-path", "GGGGGGG", {{OK, FULL}}, 5, 1, 3, 1, "Program Files (x86)"},
    {"wc06-kept", "GPGGGGG",
     {{OK, {{2002, 2005, 3, 2, 3}, {true, false, false, false, true}}, 0, &WC06_KEPT}}},
    // Each run shows what the one before wrote, the range ends included:
    // 7/7/6 and 1/0/1. Then years and an installed delay left alone, an
    // unticked World Cup fix left installed, the conference taken out and
    // put back with 1 and 3.
    {"patch-then-rescan", "GGGGGGG",
     {{OK, {{2020, 2999, 7, 7, 6}, {true, false, false, false, true}}},
      {OK, {{2002, 2003, 1, 0, 1}, {true, true, false, false, false}}},
      {OK, {{2002, 2001, 3, 3, 2}, {false, false, true, true, false}}},
      {OK, {{2001, 2001, 1, 3, 1}, {false, true, false, false, false}}}}},
    // Real key presses: Enter and Escape do not end the dialog, only the
    // check boxes are tab stops, Space ticks, Alt+F4 closes.
    {"keyboard", "GGGGGGG", {{KEYS}}},
};
// clang-format on

// The options dialog from its first look to its end; `before` gets the
// file as it is when the end is pressed.
void options(DWORD pid, const run_row &run, const std::string &name, const sample_recipe &now, HANDLE *held,
             bytes *before)
{
    HWND dlg = wait_window(pid, "Velmar's ZANDOR patcher");
    if (dlg == nullptr)
        return fail(where::current(), "no options dialog");
    expect_options(dlg, now);
    if (run.how == KEYS) {
        for (const char *k : {"Escape", "Return", "space", "Tab", "space"})
            host(std::string("keys ") + k);
        Sleep(500);
        EXPECT(IsWindowVisible(dlg) && send(GetDlgItem(dlg, 112), BM_GETCHECK, 0, 0) == BST_CHECKED
                   && send(GetDlgItem(dlg, 113), BM_GETCHECK, 0, 0) == BST_CHECKED,
               "Escape, Enter, Space, Tab, Space should leave the dialog open with boxes 112 and 113 ticked");
    } else {
        fill(dlg, run.c);
        press(dlg, IDOK);
        press(dlg, IDCANCEL);
        Sleep(500);
        EXPECT(IsWindowVisible(dlg), "the IDOK or IDCANCEL command ended the options dialog");
    }
    if (run.ob == IMMUTABLE)
        EXPECT(host("immutable " + name + " on"), "cannot make %s immutable", name.c_str());
    if (run.ob == HELD_OPEN)
        *held = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::FILE *f = run.ob == GROWN || run.ob == BLOCK_CHANGED ? std::fopen(name.c_str(), "r+b") : nullptr;
    if (f != nullptr) {
        int64_t exit_block = now.site[SITE_EXITGAME].at + patch_catalogue[SITE_EXITGAME].sig_len;
        std::fseek(f, run.ob == GROWN ? 0 : static_cast<long>(exit_block),
                   run.ob == GROWN ? SEEK_END : SEEK_SET);
        std::fputc(0x90, f);
        std::fclose(f);
    }
    read_file(name, before);
    if (run.how == KEYS)
        host("keys alt+F4");
    else if (run.how == CLOSE_BOX)
        PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        press(dlg, run.how == OK ? 100 : 101);
    if (run.box != nullptr)
        meet(pid, *run.box, IDOK);
}

// One run of the patcher, started in `folder` (null: here) where the file
// `name` lies; `now` follows what the file should hold.
void play(const run_row &run, const char *folder, const std::string &name, sample_recipe *now)
{
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES; // no handles: the scan's diagnostics stay out of this report
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(patcher, nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi))
        return fail(where::current(), "cannot start \"%s\"", patcher);
    const DWORD pid = pi.dwProcessId;
    bytes want;
    read_file(name, &want);
    HANDLE held = INVALID_HANDLE_VALUE;
    meet(pid, WELCOME, run.how == KEYS ? 0 : IDOK);
    // The chooser opens in the patcher's current folder, this one.
    HWND chooser = meet_chooser(pid, "Executables");
    if (run.how == RETRY_CHOOSER) {
        HWND types = GetDlgItem(chooser, 0x470);
        send(types, CB_SETCURSEL, 1, 0);
        send(chooser, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE), reinterpret_cast<LPARAM>(types));
        press(chooser, IDCANCEL);
        meet(pid, RETRY, IDRETRY);
        press(meet_chooser(pid, "All"), IDCANCEL);
        meet(pid, RETRY, IDCANCEL);
    } else if (run.how == KEYS) {
        EXPECT(host("keys type " + name) && host("keys Return"), "cannot send keys");
        options(pid, run, name, *now, &held, &want);
    } else {
        // The whole path: Wine's chooser hands a bare name back as it is.
        char full[4 * MAX_PATH] = {};
        GetFullPathNameA(name.c_str(), sizeof full, full, nullptr);
        std::string typed = run.how == MISSING ? "no-such-file.exe" : full;
        send(GetDlgItem(chooser, 0x480), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
        press(chooser, IDOK);
        run.how == MISSING ? meet(pid, OPEN_ERROR, IDOK) : options(pid, run, name, *now, &held, &want);
    }
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, WAIT_MS) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code)
        || code != static_cast<DWORD>(run.exit_code))
        fail(where::current(), "exit code %ld, expected %d", static_cast<long>(code), run.exit_code);
    // After a failure the patcher may still wait for its player.
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (run.ob == IMMUTABLE)
        EXPECT(host("immutable " + name + " off"), "cannot make %s writable again", name.c_str());
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    // A written file holds what the sample maker makes of the model's recipe.
    if (run.how == OK && run.exit_code == 0) {
        // Made from the path the chooser gave: a short 8.3 or mangled name would show here.
        EXPECT(folder == nullptr || GetFileAttributesA((name + ".bak").c_str()) != INVALID_FILE_ATTRIBUTES,
               "no %s.bak", name.c_str());
        write_model(now, run.c);
        EXPECT(sample_write("expected.tmp", now) == 0 && read_file("expected.tmp", &want),
               "cannot make the expected file");
    }
    bytes got;
    EXPECT(read_file(name, &got) && got.size() == want.size(), "%s holds %zu bytes, expected %zu",
           name.c_str(), got.size(), want.size());
    int64_t at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
    const char *part = "filler"; // where the first difference lies
    for (int s = 0; s < SITE_COUNT; ++s)
        if (now->site[s].state != SAMPLE_ABSENT && at >= now->site[s].at
            && at < now->site[s].at + patch_catalogue[s].sig_len + patch_catalogue[s].block_len)
            part = patch_catalogue[s].name;
    EXPECT(at == static_cast<int64_t>(got.size()), "%s differs first at byte %lld, in %s", name.c_str(),
           static_cast<long long>(at), part);
}

void run_scenario(const scenario &sc, uint32_t seed)
{
    const std::string name = (sc.folder != nullptr ? std::string(sc.folder) + "\\" : "") + sc.name + ".exe";
    if (sc.folder != nullptr)
        CreateDirectoryA(sc.folder, nullptr);
    sample_recipe now{};
    sample_defaults(&now, SAMPLE_SIZE);
    now.seed = seed;
    for (int s = 0; s < SITE_COUNT; ++s)
        now.site[s].state = static_cast<sample_state>(std::strchr("-GPUD", sc.states[s]) - "-GPUD");
    now.site[SITE_CLICK_DELAY].param = sc.delay;
    now.site[SITE_CONF_COUNTS].param = sc.counted;
    now.site[SITE_CONF_COUNTS].param2 = sc.relegated;
    now.site[SITE_CONF_PROMOTED].param = sc.promoted;
    // Laid out once: every later file keeps its sites where they are.
    if (sample_layout(&now, &now) != 0 || sample_write(name.c_str(), &now) != 0)
        return fail(where::current(), "cannot make the sample %s", name.c_str());
    for (run_number = 1; run_number <= 4 && sc.runs[run_number - 1].how != DONE && failures == 0;
         ++run_number)
        play(sc.runs[run_number - 1], sc.folder, name, &now);
}

} // namespace

// zandor-e2e-driver PATCHER.EXE [SCENARIO...], run in a folder it may write to.
int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    patcher = argc > 1 ? argv[1] : "";
    int passed = 0, failed = 0;
    for (const scenario &sc : SCENARIOS) {
        if (argc > 2 && std::none_of(argv + 2, argv + argc, [&](const char *a) {
                return std::strcmp(a, sc.name) == 0;
            }))
            continue;
        std::printf("e2e: %s\n", sc.name);
        failures = 0;
        run_scenario(sc, static_cast<uint32_t>(11 + (&sc - SCENARIOS)));
        (failures == 0 ? passed : failed) += 1;
        std::printf("  %s %s\n", failures == 0 ? "ok  " : "FAIL", sc.name);
    }
    std::printf("e2e: %d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
