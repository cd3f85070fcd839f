// End-to-end scenarios: the real zandor-patcher.exe driven from this process
// as a player would drive it, each scenario on its own fresh sample image.

#include "drive.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "tools/sample_image.h"

namespace {

constexpr int WAIT_MS = 30000; // a cold Wine start can be slow
constexpr int64_t SAMPLE_SIZE = 300000; // several 64 KiB search windows
const char *patcher = nullptr;
std::string folder;

using bytes = std::vector<uint8_t>;

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

bool recognised(const sample_site &s)
{
    return s.state == SAMPLE_GAME || s.state == SAMPLE_PATCHED;
}

bool within(int v, int lo, int hi)
{
    return v >= lo && v <= hi;
}

// The conference blocks are usable only as a pair that agrees on a promoted count.
bool usable(const sample_recipe &r, int site)
{
    const sample_site &counts = r.site[SITE_CONF_COUNTS], &prom = r.site[SITE_CONF_PROMOTED];
    if (site != SITE_CONF_COUNTS && site != SITE_CONF_PROMOTED)
        return recognised(r.site[site]);
    return recognised(counts) && recognised(prom)
           && (prom.state == SAMPLE_GAME
               || (counts.state == SAMPLE_PATCHED && counts.param == prom.param && within(prom.param, 1, 7)));
}

// What a pair shows first; the up-down clamps it to its range.
int shown(const sample_recipe &r, int k)
{
    const sample_site &counts = r.site[SITE_CONF_COUNTS], &delay = r.site[SITE_CLICK_DELAY];
    int v = 0; // an absent year
    if (k == START || k == BOSMAN) {
        int site = k == START ? SITE_START_YEAR : SITE_BOSMAN_YEAR;
        v = usable(r, site) ? r.site[site].param : 0;
    } else if (k == PROMOTED) {
        // A patched promoted block takes its count from conf_counts, even when they disagree.
        bool patched = r.site[SITE_CONF_PROMOTED].state == SAMPLE_PATCHED && counts.state == SAMPLE_PATCHED;
        v = patched && within(counts.param, 1, 7) ? counts.param : 1;
    } else if (k == RELEGATED) {
        v = counts.state == SAMPLE_PATCHED ? counts.param2 : 3;
    } else {
        v = delay.state == SAMPLE_PATCHED && within(delay.param, 1, 6) ? delay.param : 5;
    }
    return std::clamp(v, RANGE[k][0], RANGE[k][1]);
}

bool ticked(const sample_recipe &r, int k)
{
    int site = k == WC06 ? SITE_WC06_FIX : SITE_EXITGAME;
    return (k == WC06 || k == EXITGAME) && usable(r, site) && r.site[site].state == SAMPLE_PATCHED;
}

// A typed value beyond the up-down's range does not parse: it keeps the position shown.
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
        // stays or (being unknown) an installed fix stays with a warning.
        if (usable(was, SITE_WC06_FIX) && c.tick[WC06] && s[SITE_START_YEAR].param > 2002)
            s[SITE_WC06_FIX].state = SAMPLE_PATCHED;
    }
    if (usable(was, SITE_EXITGAME))
        s[SITE_EXITGAME].state = c.tick[EXITGAME] ? SAMPLE_PATCHED : SAMPLE_GAME;
    if (usable(was, SITE_CONF_COUNTS)) {
        s[SITE_CONF_COUNTS].state = s[SITE_CONF_PROMOTED].state = c.tick[KEEP_CONF] ? SAMPLE_GAME : SAMPLE_PATCHED;
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

const control CONTROLS[] = {
    {0xFFFF, "Years", ALWAYS},
    {103, nullptr, SITE_START_YEAR},
    {102, "", SITE_START_YEAR},
    {0xFFFF, "Game starts", SITE_START_YEAR},
    {112, "World Cup 06 fix", SITE_WC06_FIX},
    {105, nullptr, SITE_BOSMAN_YEAR},
    {104, "", SITE_BOSMAN_YEAR},
    {0xFFFF, "Bosman ruling", SITE_BOSMAN_YEAR},
    {113, "Leave years untouched", ANY_YEAR},
    {0xFFFF, "Conference league", ALWAYS},
    {107, nullptr, SITE_CONF_COUNTS},
    {106, "", SITE_CONF_COUNTS},
    {0xFFFF, "Nof promoted", SITE_CONF_COUNTS},
    {109, nullptr, SITE_CONF_COUNTS},
    {108, "", SITE_CONF_COUNTS},
    {0xFFFF, "Nof relegated", SITE_CONF_COUNTS},
    {114, "Don't touch conference", SITE_CONF_COUNTS},
    {0xFFFF, "Misc fixes", ALWAYS},
    {111, nullptr, SITE_CLICK_DELAY},
    {110, "", SITE_CLICK_DELAY},
    {0xFFFF, "Click repeat delay", SITE_CLICK_DELAY},
    {115, "Don't install click delay", SITE_CLICK_DELAY},
    {116, "Close window exits game", SITE_EXITGAME},
    {100, "OK", ALWAYS},
    {101, "Cancel", ALWAYS},
};

bool enabled(const sample_recipe &r, int needs)
{
    bool start = usable(r, SITE_START_YEAR);
    if (needs == ALWAYS)
        return true;
    if (needs == ANY_YEAR)
        return start || usable(r, SITE_BOSMAN_YEAR);
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
        bool pair = row.id >= 102 && row.id <= 111, check = row.id >= 112 && row.id <= 116;
        int k = check ? row.id - 112 : (row.id - 102) / 2, id = GetDlgCtrlID(c) & 0xFFFF;
        std::string got = text_of(c), want = row.text != nullptr ? row.text : std::to_string(shown(r, k));
        if (id != row.id || got != want)
            fail(w, "control %d shows \"%s\", expected control %d showing \"%s\"", id, got.c_str(), row.id,
                 want.c_str());
        if ((IsWindowEnabled(c) != FALSE) != enabled(r, row.needs))
            fail(w, "control %d (\"%s\") is wrongly %s", row.id, got.c_str(),
                 IsWindowEnabled(c) ? "enabled" : "disabled");
        if (check && (send(c, BM_GETCHECK, 0, 0) == BST_CHECKED) != ticked(r, k))
            fail(w, "check box %d is wrongly %s", row.id, ticked(r, k) ? "clear" : "ticked");
        LRESULT range = send(c, UDM_GETRANGE, 0, 0), pos = send(c, UDM_GETPOS, 0, 0);
        if (pair && row.id % 2 == 0
            && (HIWORD(range) != RANGE[k][0] || LOWORD(range) != RANGE[k][1] || pos != shown(r, k)))
            fail(w, "up-down %d runs %d-%d at %ld, expected %d-%d at %d", row.id, HIWORD(range), LOWORD(range),
                 static_cast<long>(pos), RANGE[k][0], RANGE[k][1], shown(r, k));
        c = GetWindow(c, GW_HWNDNEXT);
    }
    if (c != nullptr)
        fail(w, "the options dialog has more than %zu controls", std::size(CONTROLS));
}

// Types the values and clicks the check boxes that differ, skipping the
// disabled ones as a player must.
void fill(HWND dlg, const choices &c, where w = where::current())
{
    for (int k = 0; k < 5; ++k) {
        HWND edit = GetDlgItem(dlg, 103 + 2 * k), box = GetDlgItem(dlg, 112 + k);
        std::string v = std::to_string(c.value[k]);
        if (IsWindowEnabled(edit) && send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(v.c_str())) != TRUE)
            fail(w, "cannot type into edit %d", 103 + 2 * k);
        if (IsWindowEnabled(box) && (send(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != c.tick[k])
            send(box, BM_CLICK, 0, 0);
        if (IsWindowEnabled(box) && (send(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != c.tick[k])
            fail(w, "clicking check box %d does not change it", 112 + k);
    }
}

// ---- message boxes and the chooser ----

struct box_spec {
    const char *caption, *text;
    bool whole; // the text is all of it, else how it begins
    int lines;
    bool icon, retry; // Retry and Cancel instead of OK
};

const box_spec WELCOME = {"Welcome",
                          "Welcome to Velmar's ZANDOR patcher.\n\nThis patcher allows you to do some\n"
                          "simple changes to your ZANDOR game.\n\nRead the accompanying README for\n"
                          "details about the patces.\n\nA word of warning - take a backup\n"
                          "copy of your ZANDOR.EXE -- you are\nusing this on your own risk!!\n\n",
                          false, 14, false, false};
const box_spec OPEN_ERROR = {"Error", "Error opening file", true, 1, true, false};
const box_spec RETRY = {"Error", "Error opening file ", true, 1, true, true};
const box_spec WRITE_ERROR = {"Error", "Error writing file", false, 1, true, false};
const box_spec WC06_KEPT = {"Warning", "The World Cup 06 fix could not be removed", false, 1, true, false};

bool has_button(HWND box, int id)
{
    return GetDlgItem(box, id) != nullptr && IsWindowVisible(GetDlgItem(box, id));
}

// Waits for the box, checks it and answers it: a button id, or 0 for the Enter key.
void meet(DWORD pid, const box_spec &b, int answer, where w = where::current())
{
    HWND box = wait_window(pid, b.caption, WAIT_MS);
    if (box == nullptr)
        return fail(w, "no \"%s\" box; the patcher shows %s", b.caption, shown_titles(pid).c_str());
    std::string text = text_of(GetDlgItem(box, 0xFFFF));
    if (text.rfind(b.text, 0) != 0 || (b.whole && text != b.text)
        || std::count(text.begin(), text.end(), '\n') != b.lines - 1 || text.back() == '\n'
        || text.find('\r') != std::string::npos)
        fail(w, "\"%s\" box says \"%s\"", b.caption, text.c_str());
    // The icon control stays even when the box shows no icon.
    if ((send(GetDlgItem(box, 0x440), STM_GETICON, 0, 0) != 0) != b.icon)
        fail(w, "\"%s\" box %s an icon", b.caption, b.icon ? "lacks" : "shows");
    if (has_button(box, IDOK) == b.retry || has_button(box, IDRETRY) != b.retry
        || has_button(box, IDCANCEL) != b.retry)
        fail(w, "\"%s\" box has the wrong buttons", b.caption);
    if (answer != 0)
        press(box, answer);
    else
        host("keys Return");
    if (!wait_gone(box, WAIT_MS))
        fail(w, "\"%s\" box stays after its answer", b.caption);
}

// The old-style chooser, centred by the patcher's hook (screen and window halved apart).
HWND meet_chooser(DWORD pid, const char *filter, where w = where::current())
{
    HWND dlg = wait_window(pid, "Select your ZANDOR executable", WAIT_MS);
    if (dlg == nullptr) {
        fail(w, "no chooser; the patcher shows %s", shown_titles(pid).c_str());
        return nullptr;
    }
    std::string type = text_of(GetDlgItem(dlg, 0x470));
    if (GetDlgItem(dlg, 0x480) == nullptr || GetDlgItem(dlg, 0x460) == nullptr || type.rfind(filter, 0) != 0)
        fail(w, "expected an old-style chooser showing %s files, not \"%s\"", filter, type.c_str());
    RECT rc{};
    GetWindowRect(dlg, &rc);
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    int wx = rc.right - rc.left, wy = rc.bottom - rc.top;
    int x = std::clamp(cx / 2 - wx / 2, 0, cx - wx), y = std::clamp(cy / 2 - wy / 2, 0, cy - wy);
    if (rc.left != x || rc.top != y)
        fail(w, "chooser at %ld,%ld, expected centred at %d,%d", rc.left, rc.top, x, y);
    return dlg;
}

// ---- files ----

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

// Says which site holds the first differing byte.
void expect_file(const std::string &path, const bytes &want, const sample_recipe &r, where w = where::current())
{
    bytes got;
    if (!read_file(path, &got) || got.size() != want.size())
        return fail(w, "%s holds %zu bytes, expected %zu", path.c_str(), got.size(), want.size());
    auto diff = std::mismatch(got.begin(), got.end(), want.begin());
    if (diff.first == got.end())
        return;
    int64_t at = diff.first - got.begin();
    const char *site = "filler";
    for (int s = 0; s < SITE_COUNT; ++s)
        if (r.site[s].state != SAMPLE_ABSENT && at >= r.site[s].at
            && at < r.site[s].at + patch_catalogue[s].sig_len + patch_catalogue[s].block_len)
            site = patch_catalogue[s].name;
    fail(w, "byte %lld (%s) is %02X, expected %02X", static_cast<long long>(at), site, *diff.first, *diff.second);
}

// ---- the scenarios ----

enum way { DONE, OK, CANCEL, CLOSE_BOX, KEYS, RETRY_CHOOSER, MISSING };
enum obstacle { NO_OBSTACLE, IMMUTABLE, HELD_OPEN, GROWN, BLOCK_CHANGED };

struct run_row {
    way how;
    choices c;
    obstacle ob;
    const box_spec *box; // shown after OK
    int exit_code;
};

struct params {
    int delay = 5, counted = 1, relegated = 3, promoted = 1;
};

struct scenario {
    const char *name;
    const char *states; // per site in site_id order: - absent, G game, P patched, U unrecognised, D twice
    params p;
    run_row runs[4]; // on the same file, one after another
    where at = where::current();
};

const choices FULL = {{2010, 2005, 3, 2, 3}, {true, false, false, false, true}};
// A typed delay of 9 is beyond the up-down's range, so the delay shown stays.
const choices PARTIAL = {{2004, 2012, 6, 1, 9}, {true, false, false, false, true}};
const choices NONE = {};

const scenario SCENARIOS[] = {
    {"full-run", "GGGGGGG", {}, {{OK, FULL, NO_OBSTACLE, nullptr, 0}}},
    // Enter and Escape (IDOK, IDCANCEL) do not end the dialog; Cancel and
    // the close box write nothing, whatever was changed.
    {"cancel-and-close", "GGGPPGG", {2}, {{CANCEL, FULL, NO_OBSTACLE, nullptr, 0}, {CLOSE_BOX, FULL, NO_OBSTACLE, nullptr, 0}}},
    // The retried chooser keeps the file type the cancelled one left.
    {"chooser-cancelled", "GGGGGGG", {}, {{RETRY_CHOOSER, NONE, NO_OBSTACLE, nullptr, 0}}},
    // Wine's old-style chooser accepts a name that is no file; the open fails.
    {"missing-file", "GGGGGGG", {}, {{MISSING, NONE, NO_OBSTACLE, nullptr, -1}}},
    {"nothing-found", "-------", {}, {{OK, PARTIAL, NO_OBSTACLE, nullptr, 0}}},
    // The start year without the World Cup block; one conference block alone is no use.
    {"start-delay-one-conf", "G--P-G-", {6, 4, 2, 4}, {{OK, PARTIAL, NO_OBSTACLE, nullptr, 0}}},
    // The World Cup block without its start year; the Bosman year alone
    // enables "Leave years untouched"; code we do not know stays disabled.
    {"odd-blocks", "DGGUUPP", {6, 4, 2, 4}, {{OK, PARTIAL, NO_OBSTACLE, nullptr, 0}}},
    {"conf-disagrees", "GPGPGPP", {6, 4, 2, 5}, {{OK, PARTIAL, NO_OBSTACLE, nullptr, 0}}},
    // Root writes through mode 0444, under Wine too: only chattr +i stops it.
    {"immutable", "GGGGGGG", {}, {{OK, FULL, IMMUTABLE, &WRITE_ERROR, 1}}},
    {"held-open", "GGGGGGG", {}, {{OK, FULL, HELD_OPEN, &WRITE_ERROR, 1}}},
    {"grown", "GGGGGGG", {}, {{OK, FULL, GROWN, &WRITE_ERROR, 1}}},
    {"block-changed", "GGGGGGG", {}, {{OK, FULL, BLOCK_CHANGED, &WRITE_ERROR, 1}}},
    // The game's own World Cup code is not known: an installed fix stays, the rest is written.
    {"wc06-kept", "GPGGGGG", {}, {{OK, {{2002, 2005, 3, 2, 3}, {true, false, false, false, true}}, NO_OBSTACLE, &WC06_KEPT, 0}}},
    // Each run shows what the one before wrote, the range ends included:
    // 7/7/6 and 1/0/1. Then years and an installed delay left alone, an
    // unticked World Cup fix left installed, the conference taken out and
    // put back with 1 and 3.
    {"patch-then-rescan", "GGGGGGG", {},
     {{OK, {{2020, 2999, 7, 7, 6}, {true, false, false, false, true}}, NO_OBSTACLE, nullptr, 0},
      {OK, {{2002, 2003, 1, 0, 1}, {true, true, false, false, false}}, NO_OBSTACLE, nullptr, 0},
      {OK, {{2002, 2001, 3, 3, 2}, {false, false, true, true, false}}, NO_OBSTACLE, nullptr, 0},
      {OK, {{2001, 2001, 1, 3, 1}, {false, true, false, false, false}}, NO_OBSTACLE, nullptr, 0}}},
    // Real key presses: Enter and Escape do not end the dialog, only the
    // check boxes are tab stops, Space ticks, Alt+F4 closes.
    {"keyboard", "GGGGGGG", {}, {{KEYS, NONE, NO_OBSTACLE, nullptr, 0}}},
};

sample_recipe recipe_of(const scenario &sc, uint32_t seed)
{
    sample_recipe r{};
    sample_defaults(&r, SAMPLE_SIZE);
    r.seed = seed;
    for (int s = 0; s < SITE_COUNT; ++s)
        r.site[s].state = static_cast<sample_state>(std::strchr("-GPUD", sc.states[s]) - "-GPUD");
    r.site[SITE_CLICK_DELAY].param = sc.p.delay;
    r.site[SITE_CONF_COUNTS].param = sc.p.counted;
    r.site[SITE_CONF_COUNTS].param2 = sc.p.relegated;
    r.site[SITE_CONF_PROMOTED].param = sc.p.promoted;
    return r;
}

// Sets the obstacle up before OK (true), or takes it away after the run (false).
void obstacle_set(obstacle ob, const std::string &name, const sample_recipe &r, bool on, HANDLE *held)
{
    std::string path = folder + "\\" + name;
    if (ob == IMMUTABLE)
        EXPECT(host("immutable " + name + (on ? " on" : " off")), "cannot switch chattr +i on %s", name.c_str());
    if (ob == HELD_OPEN && on)
        *held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (ob == HELD_OPEN && !on)
        CloseHandle(*held);
    if ((ob != GROWN && ob != BLOCK_CHANGED) || !on)
        return;
    // Another program grows the file, or puts code we do not know in the exit block.
    std::FILE *f = std::fopen(path.c_str(), ob == GROWN ? "ab" : "r+b");
    EXPECT(f != nullptr, "cannot change %s beside the patcher", name.c_str());
    if (f != nullptr && ob == BLOCK_CHANGED)
        std::fseek(f, static_cast<long>(r.site[SITE_EXITGAME].at + patch_catalogue[SITE_EXITGAME].sig_len), SEEK_SET);
    if (f != nullptr)
        std::fputc(0x90, f);
    if (f != nullptr)
        std::fclose(f);
}

// The options dialog from its first look to its end; `before` gets the file
// as it is when the end is pressed.
void options(DWORD pid, const run_row &run, const std::string &name, const sample_recipe &now, HANDLE *held,
             bytes *before)
{
    HWND dlg = wait_window(pid, "Velmar's ZANDOR patcher", WAIT_MS);
    if (dlg == nullptr)
        return fail(where::current(), "no options dialog; the patcher shows %s", shown_titles(pid).c_str());
    expect_options(dlg, now);
    if (run.how == KEYS) {
        for (const char *k : {"Escape", "Return"})
            host(std::string("keys ") + k);
        Sleep(500);
        EXPECT(IsWindowVisible(dlg), "Enter or Escape ended the options dialog");
        for (const char *k : {"space", "Tab", "space"})
            host(std::string("keys ") + k);
        Sleep(300);
        EXPECT(send(GetDlgItem(dlg, 112), BM_GETCHECK, 0, 0) == BST_CHECKED
                   && send(GetDlgItem(dlg, 113), BM_GETCHECK, 0, 0) == BST_CHECKED,
               "Space, Tab, Space did not tick the first two check boxes");
        read_file(folder + "\\" + name, before);
        host("keys alt+F4");
        return;
    }
    fill(dlg, run.c);
    press(dlg, IDOK);
    press(dlg, IDCANCEL);
    Sleep(500);
    EXPECT(IsWindowVisible(dlg), "the IDOK or IDCANCEL command ended the options dialog");
    RECT rc{};
    GetWindowRect(dlg, &rc);
    host("shot " + name + " " + std::to_string(rc.left) + " " + std::to_string(rc.top) + " "
         + std::to_string(rc.right - rc.left) + " " + std::to_string(rc.bottom - rc.top));
    obstacle_set(run.ob, name, now, true, held);
    read_file(folder + "\\" + name, before);
    if (run.how == CLOSE_BOX)
        PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        press(dlg, run.how == OK ? 100 : 101);
    if (run.box != nullptr)
        meet(pid, *run.box, IDOK);
}

// One run of the patcher; `now` follows what the file should hold.
void play(const run_row &run, const std::string &name, sample_recipe *now)
{
    const std::string path = folder + "\\" + name;
    PROCESS_INFORMATION pi{};
    if (!run_start(&pi, patcher, folder.c_str()))
        return fail(where::current(), "cannot start %s", patcher);
    const DWORD pid = pi.dwProcessId;
    bytes before;
    read_file(path, &before);
    HANDLE held = INVALID_HANDLE_VALUE;
    meet(pid, WELCOME, run.how == KEYS ? 0 : IDOK);
    HWND chooser = meet_chooser(pid, "Executables");
    if (chooser != nullptr && run.how == RETRY_CHOOSER) {
        HWND types = GetDlgItem(chooser, 0x470);
        send(types, CB_SETCURSEL, 1, 0);
        send(chooser, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE), reinterpret_cast<LPARAM>(types));
        press(chooser, IDCANCEL);
        meet(pid, RETRY, IDRETRY);
        chooser = meet_chooser(pid, "All");
        press(chooser, IDCANCEL);
        meet(pid, RETRY, IDCANCEL);
    } else if (chooser != nullptr && run.how == KEYS) {
        // The chooser opens in the patcher's current folder.
        EXPECT(host("keys type " + name) && host("keys Return"), "cannot send keys");
        options(pid, run, name, *now, &held, &before);
    } else if (chooser != nullptr) {
        std::string typed = run.how == MISSING ? folder + "\\no-such-file.exe" : path;
        EXPECT(send(GetDlgItem(chooser, 0x480), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str())) == TRUE,
               "cannot type into the chooser");
        press(chooser, IDOK);
        if (run.how == MISSING)
            meet(pid, OPEN_ERROR, IDOK);
        else
            options(pid, run, name, *now, &held, &before);
    }
    DWORD code = 0;
    if (!run_wait_exit(pi, WAIT_MS, &code))
        fail(where::current(), "the patcher did not exit; it shows %s", shown_titles(pid).c_str());
    else if (code != static_cast<DWORD>(run.exit_code))
        fail(where::current(), "exit code %ld, expected %d", static_cast<long>(code), run.exit_code);
    run_finish(&pi);
    obstacle_set(run.ob, name, *now, false, &held);
    // A written file holds what the sample maker makes of the model's recipe.
    if (run.how == OK && run.box != &WRITE_ERROR) {
        write_model(now, run.c);
        EXPECT(sample_write((folder + "\\expected.tmp").c_str(), now) == 0
                   && read_file(folder + "\\expected.tmp", &before),
               "cannot make the expected file");
    }
    expect_file(path, before, *now);
}

void run_scenario(const scenario &sc, uint32_t seed)
{
    const std::string name = std::string(sc.name) + ".exe";
    sample_recipe now = recipe_of(sc, seed);
    // Laid out once: every later file keeps the sites where they are.
    if (sample_layout(&now, &now) != 0 || sample_write((folder + "\\" + name).c_str(), &now) != 0)
        return fail(sc.at, "cannot make the sample %s", name.c_str());
    for (const run_row &run : sc.runs)
        if (run.how != DONE && failures == 0)
            play(run, name, &now);
}

int usage()
{
    std::printf("usage: zandor-e2e-driver PATCHER.EXE [SCENARIO...], run in a folder it may write to;"
                " scenarios:");
    for (const scenario &s : SCENARIOS)
        std::printf(" %s", s.name);
    std::printf("\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2 || GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES)
        return usage();
    patcher = argv[1];
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    folder = cwd;
    for (int i = 2; i < argc; ++i)
        if (std::none_of(std::begin(SCENARIOS), std::end(SCENARIOS),
                         [&](const scenario &s) { return std::strcmp(s.name, argv[i]) == 0; }))
            return usage();
    int passed = 0, failed = 0;
    for (const scenario &sc : SCENARIOS) {
        if (argc > 2 && std::none_of(argv + 2, argv + argc, [&](const char *a) { return std::strcmp(a, sc.name) == 0; }))
            continue;
        std::printf("e2e: %s (scenarios.cpp:%u)\n", sc.name, static_cast<unsigned>(sc.at.line()));
        failures = 0;
        DWORD t0 = GetTickCount();
        run_scenario(sc, static_cast<uint32_t>(11 + (&sc - SCENARIOS)));
        (failures == 0 ? passed : failed) += 1;
        std::printf("  %s %s (%.1f s)\n", failures == 0 ? "ok  " : "FAIL", sc.name, (GetTickCount() - t0) / 1000.0);
    }
    std::printf("e2e: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
