// End-to-end scenarios: the real zandor-patcher.exe driven from another
// Win32 process as a player would drive it (finding its windows by title,
// reading and setting its controls, pressing its buttons), each scenario on
// its own fresh sample image. Every wait has a timeout.

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <source_location>
#include <string>

#include "patch/results.h"
#include "tools/sample_image.h"

namespace {

using where = std::source_location;

constexpr int WAIT_MS = 30000, POLL_MS = 50; // a cold Wine start can be slow
const char *patcher = "";
int failures = 0, run_number = 0;

// ---- playing the user of another process ----

// Records a failed expectation of the running scenario at the checking line.
bool expect(bool ok, const std::string &what, where w = where::current())
{
    if (!ok)
        std::printf("    FAIL (run %d, line %u): %s\n", run_number, w.line(), what.c_str());
    failures += ok ? 0 : 1;
    return ok;
}

std::string text_of(HWND w)
{
    char buf[1024] = {};
    SendMessageA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return buf;
}

void press(HWND dlg, int id)
{
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

// The whole file; empty when it cannot be read.
std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The visible top-level window with this title (the patcher's: nothing
// else makes one); null on timeout.
HWND wait_window(const char *title, where w = where::current())
{
    HWND found = nullptr;
    for (int ms = 0; ms < WAIT_MS && !IsWindowVisible(found = FindWindowA(nullptr, title)); ms += POLL_MS)
        Sleep(POLL_MS);
    // A modal dialog shows itself when its loop first goes idle: let it
    // finish setting up before anyone looks.
    Sleep(200);
    return expect(IsWindowVisible(found), "no window \"" + std::string(title) + "\"", w) ? found : nullptr;
}

// One request to the e2e script, served outside Wine: "keys KEY",
// "keys type TEXT", "immutable FILE on|off", "relink LINK TARGET". True when
// it was done.
bool host(const std::string &line)
{
    std::ofstream("host.req.tmp", std::ios::binary) << line << '\n';
    // The script polls for host.req: it must never see a half-written one.
    MoveFileExA("host.req.tmp", "host.req", MOVEFILE_REPLACE_EXISTING);
    std::string reply;
    for (int ms = 0; ms < WAIT_MS && (reply = read_file("host.ack")).empty(); ms += POLL_MS)
        Sleep(POLL_MS);
    DeleteFileA("host.ack");
    return reply.starts_with("ok");
}

// A file made with these bytes, or false.
bool make_file(const std::string &path, const std::string &data)
{
    return static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::trunc) << data);
}

// ---- what a sample holds, what the dialog shows of it, what OK makes of it ----

// The five edit/up-down pairs (edits 103..111, up-downs 102..110: start
// year, Bosman year, promoted, relegated, click delay) and the five check
// boxes (112..116: World Cup fix, leave years, keep conference, no delay,
// close exits), in id order.
const int RANGE[5][2] = {{2001, 2020}, {2001, 3000}, {1, 7}, {0, 7}, {1, 6}};

struct choices {
    int value[5];
    const char *ticks; // per box: x ticked, - not
};

constexpr int ALWAYS = SITE_COUNT, ANY_YEAR = SITE_COUNT + 1;

// Whether the dialog offers what this site (or ALWAYS, or ANY_YEAR) controls.
// The World Cup fix needs the start year too; the conference blocks are
// usable only as a pair that agrees on a promoted count.
bool usable(const sample_recipe &r, int site)
{
    auto known = [&](int s) { return r.site[s].state == SAMPLE_GAME || r.site[s].state == SAMPLE_PATCHED; };
    const sample_site &counts = r.site[SITE_CONF_COUNTS], &prom = r.site[SITE_CONF_PROMOTED];
    if (site == ALWAYS || site == ANY_YEAR)
        return site == ALWAYS || usable(r, SITE_START_YEAR) || usable(r, SITE_BOSMAN_YEAR);
    if (site != SITE_CONF_COUNTS && site != SITE_CONF_PROMOTED)
        return known(site) && (site != SITE_WC06_FIX || known(SITE_START_YEAR));
    return known(SITE_CONF_COUNTS) && known(SITE_CONF_PROMOTED)
           && (prom.state == SAMPLE_GAME
               || (counts.state == SAMPLE_PATCHED && counts.param == prom.param && prom.param >= 1
                   && prom.param <= 7));
}

// What each pair shows first; the up-down clamps it to its range.
int shown(const sample_recipe &r, int k)
{
    const sample_site &counts = r.site[SITE_CONF_COUNTS], &delay = r.site[SITE_CLICK_DELAY];
    // A patched promoted block takes its count from conf_counts, even when they disagree.
    bool conf_patched = r.site[SITE_CONF_PROMOTED].state == SAMPLE_PATCHED && counts.state == SAMPLE_PATCHED;
    int v[] = {usable(r, SITE_START_YEAR) ? r.site[SITE_START_YEAR].param : 0,
               usable(r, SITE_BOSMAN_YEAR) ? r.site[SITE_BOSMAN_YEAR].param : 0,
               conf_patched && counts.param >= 1 && counts.param <= 7 ? counts.param : 1,
               counts.state == SAMPLE_PATCHED ? counts.param2 : 3,
               delay.state == SAMPLE_PATCHED && delay.param >= 1 && delay.param <= 6 ? delay.param : 5};
    return std::clamp(v[k], RANGE[k][0], RANGE[k][1]);
}

// Puts "STATES [START BOSMAN DELAY COUNTED RELEGATED PROMOTED]" into `r`:
// a state per site in site_id order (- absent, G game, P patched,
// U unrecognised, D twice), then the parameters, if they change.
void apply(sample_recipe *r, const char *sample)
{
    sample_site *s = r->site;
    for (int i = 0; i < SITE_COUNT; ++i)
        s[i].state = static_cast<sample_state>(std::string("-GPUD").find(sample[i]));
    std::sscanf(sample + SITE_COUNT, "%d %d %d %d %d %d", &s[SITE_START_YEAR].param,
                &s[SITE_BOSMAN_YEAR].param, &s[SITE_CLICK_DELAY].param, &s[SITE_CONF_COUNTS].param,
                &s[SITE_CONF_COUNTS].param2, &s[SITE_CONF_PROMOTED].param);
}

// ---- the options dialog ----

// clang-format off
// Each control's id (0xFFFF: a label) and the site that enables it.
const int CONTROLS[][2] = {
    {0xFFFF, ALWAYS}, {103, SITE_START_YEAR}, {102, SITE_START_YEAR}, {0xFFFF, SITE_START_YEAR},
    {112, SITE_WC06_FIX}, {105, SITE_BOSMAN_YEAR}, {104, SITE_BOSMAN_YEAR}, {0xFFFF, SITE_BOSMAN_YEAR},
    {113, ANY_YEAR}, {0xFFFF, ALWAYS}, {107, SITE_CONF_COUNTS}, {106, SITE_CONF_COUNTS},
    {0xFFFF, SITE_CONF_COUNTS}, {109, SITE_CONF_COUNTS}, {108, SITE_CONF_COUNTS}, {0xFFFF, SITE_CONF_COUNTS},
    {114, SITE_CONF_COUNTS}, {0xFFFF, ALWAYS}, {111, SITE_CLICK_DELAY}, {110, SITE_CLICK_DELAY},
    {0xFFFF, SITE_CLICK_DELAY}, {115, SITE_CLICK_DELAY}, {116, SITE_EXITGAME}, {100, ALWAYS}, {101, ALWAYS},
};
// clang-format on

// Each control in creation order against what the sample should show.
void expect_options(HWND dlg, const sample_recipe &r, where w = where::current())
{
    // A control as: ID [disabled] [ticked], and an up-down's "LO-HI at POS" (the
    // number its buddy edit shows).
    auto describe = [](int id, bool on, bool tick, int lo, int hi, int pos) {
        std::string s = std::to_string(id) + (on ? "" : " disabled") + (tick ? " ticked" : "");
        if (id >= 102 && id <= 110 && id % 2 == 0)
            s += " up-down " + std::to_string(lo) + "-" + std::to_string(hi) + " at " + std::to_string(pos);
        return s;
    };
    HWND c = GetWindow(dlg, GW_CHILD);
    for (const auto &[id, needs] : CONTROLS) {
        // The pair the control belongs to (0 for the others).
        int k = id >= 102 && id <= 111 ? (id - 102) / 2 : 0;
        // An installed fix starts ticked.
        bool tick = (id == 112 || id == 116) && usable(r, needs) && r.site[needs].state == SAMPLE_PATCHED;
        std::string want = describe(id, usable(r, needs), tick, RANGE[k][0], RANGE[k][1], shown(r, k));
        LRESULT range = SendMessageA(c, UDM_GETRANGE, 0, 0);
        std::string got = describe(GetDlgCtrlID(c) & 0xFFFF, IsWindowEnabled(c),
                                   SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED, HIWORD(range),
                                   LOWORD(range), static_cast<int>(SendMessageA(c, UDM_GETPOS, 0, 0)));
        expect(got == want, "control " + got + ", expected " + want, w);
        c = GetWindow(c, GW_HWNDNEXT);
    }
    expect(c == nullptr, "the options dialog has more controls than expected", w);
}

// ---- message boxes and the chooser ----

struct box_spec {
    const char *caption, *text; // how the text begins
    int lines;
    file_cause cause = CAUSE_NONE; // the cause the text ends with
};

const box_spec WELCOME = {"Welcome", "Welcome to Velmar's ZANDOR patcher.\n", 14};
// The first line, a blank one, then the file and why.
const box_spec OPEN_ERROR = {"Error", "Error opening file\n\n", 3, CAUSE_MISSING};
const box_spec RETRY = {"Error", "Error opening file ", 1};
// The first line, a blank one, the file and what failed, then why.
const box_spec WRITE_DENIED = {"Error", "Error writing file\n\n", 4, CAUSE_DENIED};
const box_spec WRITE_IN_USE = {"Error", "Error writing file\n\n", 4, CAUSE_IN_USE};
const box_spec WRITE_CHANGED = {"Error", "Error writing file\n\n", 4, CAUSE_CHANGED};
const box_spec BACKUP_HELD = {"Error", "Error writing file\n\n", 4, CAUSE_BACKUP_HELD};
const box_spec WC06_KEPT = {"Warning", "The World Cup 06 fix could not be removed: ", 1};
const box_spec OUT_OF_RANGE = {"Error", "Game starts: choose a year from 2001 to 2020.", 1};

// Waits for the box, checks its text and answers it: a button id, or 0 for
// the Enter key. The options dialog, when open, must take no input meanwhile.
void meet(const box_spec &b, int answer, HWND dlg = nullptr, where w = where::current())
{
    HWND box = wait_window(b.caption, w);
    std::string text = text_of(GetDlgItem(box, 0xFFFF));
    expect(text.starts_with(b.text) && std::count(text.begin(), text.end(), '\n') == b.lines - 1
               && !text.ends_with('\n') && (b.cause == CAUSE_NONE || text.ends_with(cause_text(b.cause)))
               && !IsWindowEnabled(dlg),
           std::string(b.caption) + " box says \"" + text + "\", or the dialog under it takes input", w);
    answer != 0 ? press(box, answer) : (void)host("keys Return");
}

// The old-style chooser, showing files of this type, its Read Only box (chx1) hidden.
HWND meet_chooser(const char *filter, where w = where::current())
{
    HWND dlg = wait_window("Select your ZANDOR executable", w);
    std::string type = text_of(GetDlgItem(dlg, 0x470));
    expect(GetDlgItem(dlg, 0x480) != nullptr && GetDlgItem(dlg, 0x460) != nullptr && type.starts_with(filter)
               && GetDlgItem(dlg, 0x410) != nullptr && !IsWindowVisible(GetDlgItem(dlg, 0x410)),
           "no old-style chooser showing " + std::string(filter) + " files without Read Only: " + type, w);
    return dlg;
}

// ---- the scenarios ----

// The last six press OK after setting up an obstacle; PLANTED cancels with
// DLLs planted beside the patcher; after a value out of range, Cancel.
enum way { DONE, OK, CANCEL, CLOSE_BOX, KEYS, RETRY_CHOOSER, MISSING, PLANTED, IMMUTABLE, HELD_OPEN, GROWN, CHANGED, HELD_BACKUP,
           RELINKED, TYPO };

struct run_row {
    way how;
    choices c = {};
    const char *after = nullptr; // the sample OK writes; null: the file stays as it is
    int exit_code = 0;
    const box_spec *box = nullptr; // shown after the chooser or OK
};

struct scenario {
    const char *name;
    const char *sample;           // as apply() takes it
    run_row runs[5];              // on the same file, one after another
    const char *folder = nullptr; // where the file lies and the patcher starts, when not here
    int64_t size = 300000;        // several 64 KiB search windows
};

const choices FULL = {{2010, 2005, 3, 2, 3}, "x---x"};
const choices PARTIAL = {{2004, 2012, 6, 1, 4}, "x---x"};

// clang-format off
const scenario SCENARIOS[] = {
    {"full-run", "GGGGGGG", {{OK, FULL, "GPGPPPP 2010 2005 3 3 2 3"}}},
    // Chooser, scan and write in a folder outside any ANSI code page (the
    // manifest's UTF-8 one): Cyrillic, CJK, and a long name with spaces.
    {"non-ascii-path", "GGGGGGG", {{OK, FULL, "GPGPPPP 2010 2005 3 3 2 3"}}, "Игры ЗАНДОР 足球 ゲーム (x86)"},
    // The retried chooser keeps the file type the cancelled one left. Wine's
    // old-style chooser accepts a name that is no file; the open fails.
    // Whatever was changed, Cancel and the close box write nothing. Real key
    // presses: Enter and Escape do not end the dialog, only the check boxes
    // are tab stops, Space ticks, Alt+F4 closes.
    {"chooser-cancel-and-keys", "GGGPPGG 2001 2002 2",
     {{RETRY_CHOOSER}, {MISSING, {}, nullptr, -1, &OPEN_ERROR}, {CANCEL, FULL}, {CLOSE_BOX, FULL}, {KEYS}}},
    {"nothing-found", "-------", {{OK, PARTIAL}}},
    // Marker DLLs under the names of the two system DLLs that are not Known
    // DLLs, beside the patcher, with Wine told to prefer DLLs on disk.
    {"planted-dlls", "GGGGGGG", {{PLANTED, FULL}}},
    // The start year without the World Cup block; one conference block
    // alone is no use.
    {"start-delay-one-conf", "G--P-G- 2001 2002 6 4 2 4", {{OK, PARTIAL, "G--P-G- 2004 2002 4 4 2 4"}}},
    // The World Cup block without its start year; the Bosman year alone
    // enables "Leave years untouched"; code we do not know stays disabled.
    {"odd-blocks", "DGGUUPP 2001 2002 6 4 2 4", {{OK, PARTIAL, "DGGUUPP 2001 2012 6 6 1 6"}}},
    // A patched promoted block shows the count of conf_counts it disagrees with.
    {"conf-disagrees", "GPGPGPP 2001 2002 6 4 2 5", {{OK, PARTIAL, "GPGPPPP 2004 2012 4 4 2 5"}}},
    // Years and a relegated count written by the command-line tool outside
    // the fields' ranges show clamped; fields left showing that leave their
    // sites byte for byte: OK changes only the delay.
    {"outside-ranges", "GPGPPPP 2500 5000 3 3 9 3",
     {{OK, {{2020, 3000, 3, 7, 2}, "x---x"}, "GPGPPPP 2500 5000 2 3 9 3"}}},
    // A year typed out of range is said, and the dialog stays open with
    // nothing written, the delay typed with it neither.
    {"typed-out-of-range", "GGGGGGG", {{TYPO, {{1999, 2005, 3, 2, 4}, "x---x"}, nullptr, 0, &OUT_OF_RANGE}}},
    // Root writes through mode 0444, under Wine too: only chattr +i stops it.
    // The running game holds its exe. Another program grows the file, then
    // makes the Bosman year 2007 while the player changes only the start
    // year: OK would put the 2002 it shows back.
    {"write-obstacles", "GGGGGGG",
     {{IMMUTABLE, FULL, nullptr, 1, &WRITE_DENIED}, {HELD_OPEN, FULL, nullptr, 1, &WRITE_IN_USE},
      {GROWN, FULL, nullptr, 1, &WRITE_CHANGED}, {CHANGED, {{2010, 2002, 1, 3, 5}, "-----"}, nullptr, 1, &WRITE_CHANGED}}},
    // A virus scanner holds a copy a killed run left: it cannot go, so no
    // backup can be made, nothing is written, and the box says why.
    {"backup-held", "GGGGGGG", {{HELD_BACKUP, FULL, nullptr, 1, &BACKUP_HELD}}},
    // Another user re-points the game's folder (a link) at one of theirs
    // between the scan and OK: nothing there is read into a backup, made,
    // removed or written, and the game's own file stays as it was.
    {"folder-re-pointed", "GGGGGGG", {{RELINKED, FULL, nullptr, 1, &WRITE_CHANGED}}, "link"},
    // Before 2003 an installed World Cup fix stays, the game's code being unknown.
    {"wc06-kept", "GPGGGGG",
     {{OK, {{2002, 2005, 3, 2, 3}, "x---x"}, "GPGPPPP 2002 2005 3 3 2 3", 0, &WC06_KEPT}}},
    // Each run shows what the one before wrote, the range ends included:
    // 7/7/6 and 1/0/1. Then years and an installed delay left alone, an
    // unticked World Cup fix left installed, the conference taken out (its
    // counts still written) and put back with 1 and 3.
    {"patch-then-rescan", "GGGGGGG", {{OK, {{2020, 2999, 7, 7, 6}, "x---x"}, "GPGPPPP 2020 2999 6 7 7 7"},
                                      {OK, {{2002, 2003, 1, 0, 1}, "xx---"}, "GPGPGPP 2020 2999 1 1 0 1"},
                                      {OK, {{2002, 2001, 3, 3, 2}, "--xx-"}, "GPGPGGG 2002 2001 1 3 3 3"},
                                      {OK, {{2001, 2001, 1, 3, 1}, "-x---"}, "GPGPGPP 2002 2001 1 1 3 1"}}},
};
// clang-format on

// Puts the marker DLL beside the patcher under both names; or, `on` false,
// checks that neither ran and takes them away.
void plant(bool on)
{
    std::string dir(patcher, std::strrchr(patcher, '\\') + 1 - patcher), marker(MAX_PATH, '\0');
    marker.resize(GetModuleFileNameA(nullptr, marker.data(), MAX_PATH));
    marker.replace(marker.rfind('\\') + 1, std::string::npos, "zandor-e2e-marker.dll");
    for (const char *name : {"COMCTL32.DLL", "COMDLG32.DLL"}) {
        const std::string dll = dir + name;
        if (on) {
            expect(CopyFileA(marker.c_str(), dll.c_str(), FALSE), "cannot plant " + dll);
            continue;
        }
        expect(GetFileAttributesA((dll + ".ran").c_str()) == INVALID_FILE_ATTRIBUTES, "the planted " + dll + " ran");
        DeleteFileA(dll.c_str());
        DeleteFileA((dll + ".ran").c_str());
    }
}

// One run of the patcher, started in `folder` (null: here) where the file
// `name` lies; `now` follows what the file should hold.
void play(const run_row &run, const char *folder, const std::string &name, sample_recipe *now)
{
    if (run.how == PLANTED)
        plant(true);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES; // no handles: the scan's diagnostics stay out of this report
    PROCESS_INFORMATION pi{};
    if (!expect(CreateProcessA(patcher, nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi),
                "cannot start " + std::string(patcher)))
        return;
    std::string want = read_file(name), partial = name + ".bak.partial"; // want: unless OK writes, the file as it is
    const std::string game = want, elsewhere = "other\\" + name.substr(name.find('\\') + 1);
    HANDLE stale = nullptr;
    // The running game holds its exe, from before the patcher reads it.
    HANDLE held = nullptr;
    if (run.how == HELD_OPEN)
        held = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    meet(WELCOME, run.how == KEYS ? 0 : IDOK);
    // The chooser opens in the patcher's current folder, this one.
    HWND chooser = meet_chooser("Executables");
    if (run.how == RETRY_CHOOSER) {
        HWND types = GetDlgItem(chooser, 0x470);
        SendMessageA(types, CB_SETCURSEL, 1, 0);
        SendMessageA(chooser, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE), reinterpret_cast<LPARAM>(types));
        press(chooser, IDCANCEL);
        meet(RETRY, IDRETRY);
        press(meet_chooser("All"), IDCANCEL);
        meet(RETRY, IDCANCEL);
    } else if (run.how == KEYS) {
        expect(host("keys type " + name) && host("keys Return"), "cannot send keys");
    } else {
        // The whole path: Wine's chooser hands a bare name back as it is.
        char full[4 * MAX_PATH] = {};
        GetFullPathNameA(name.c_str(), sizeof full, full, nullptr);
        SetDlgItemTextA(chooser, 0x480, run.how == MISSING ? "no-such-file.exe" : full);
        press(chooser, IDOK);
    }
    HWND dlg = nullptr;
    if (run.how != RETRY_CHOOSER && run.how != MISSING) {
        dlg = wait_window("Velmar's ZANDOR patcher");
        expect_options(dlg, *now);
        // Real keys; or the values typed and the boxes clicked that differ,
        // skipping the disabled ones as a player must.
        if (run.how == KEYS)
            for (const char *k : {"Escape", "Return", "space", "Tab", "space"})
                host(std::string("keys ") + k);
        for (int k = 0; k < 5 && run.how != KEYS; ++k) {
            HWND box = GetDlgItem(dlg, 112 + k);
            if (IsWindowEnabled(GetDlgItem(dlg, 103 + 2 * k)))
                SetDlgItemTextA(dlg, 103 + 2 * k, std::to_string(run.c.value[k]).c_str());
            if (IsWindowEnabled(box)
                && (IsDlgButtonChecked(dlg, 112 + k) == BST_CHECKED) != (run.c.ticks[k] == 'x'))
                SendMessageA(box, BM_CLICK, 0, 0);
        }
        Sleep(500);
        expect(run.how != KEYS || (IsDlgButtonChecked(dlg, 112) && IsDlgButtonChecked(dlg, 113)),
               "Space, Tab, Space should tick boxes 112 and 113");
        if (run.how == IMMUTABLE)
            expect(host("immutable " + name + " on"), "cannot make " + name + " immutable");
        if (run.how == GROWN || run.how == CHANGED) {
            std::fstream f(name, std::ios::binary | std::ios::in | std::ios::out);
            f.seekp(run.how == GROWN ? now->size
                                     : now->site[SITE_BOSMAN_YEAR].at + patch_catalogue[SITE_BOSMAN_YEAR].sig_len);
            f.put(run.how == GROWN ? '\x90' : '\xd7'); // 2002 (d2 07) made 2007
        }
        if (run.how == HELD_BACKUP)
            stale = make_file(partial, "cut short")
                        ? CreateFileA(partial.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr)
                        : nullptr;
        if (run.how == RELINKED) {
            std::string secret = game;
            secret[1] ^= 1;
            expect(make_file(elsewhere, secret) && make_file(elsewhere + ".bak.partial", "theirs")
                       && host("relink link other"),
                   "cannot re-point the folder");
        }
        want = read_file(name);
        if (run.how == KEYS)
            host("keys alt+F4");
        else if (run.how == CLOSE_BOX)
            PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            press(dlg, run.how == CANCEL || run.how == PLANTED ? 101 : 100);
    }
    if (run.box != nullptr)
        meet(*run.box, IDOK, dlg);
    // An OK that worked says what it did: the settings changed and the way
    // back, or that nothing could be written.
    if (run.how == OK && run.exit_code == 0) {
        HWND done = wait_window("Done");
        const std::string text = text_of(GetDlgItem(done, 0xFFFF));
        expect(run.after != nullptr ? text.find(" -> ") != text.npos && text.find("restore") != text.npos
                                    : text.starts_with("No part of") || text.starts_with("Nothing was changed"),
               "Done box says \"" + text + "\"");
        expect(!IsWindowEnabled(dlg), "the dialog under the Done box takes input");
        press(done, IDOK);
    }
    if (run.how == TYPO)
        press(dlg, 101);
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(pi.hProcess, WAIT_MS);
    GetExitCodeProcess(pi.hProcess, &code);
    expect(static_cast<int>(code) == run.exit_code, "exit code " + std::to_string(static_cast<int>(code)));
    // After a failure the patcher may still wait for its player.
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (run.how == IMMUTABLE)
        expect(host("immutable " + name + " off"), "cannot make " + name + " writable again");
    CloseHandle(held); // none when not held
    if (run.how == PLANTED)
        plant(false);
    // A written file holds what the sample maker makes of the recipe written.
    if (run.after != nullptr) {
        // Made from the path the chooser gave: a short 8.3 or mangled name would show here.
        expect(GetFileAttributesA((name + ".bak").c_str()) != INVALID_FILE_ATTRIBUTES, "no " + name + ".bak");
        apply(now, run.after);
        expect(sample_write("expected.tmp", now) == 0, "cannot make the expected file");
        want = read_file("expected.tmp");
    }
    expect(read_file(name) == want, name + " is not the file expected");
    if (stale != nullptr) {
        expect(stale != INVALID_HANDLE_VALUE && GetFileAttributesA((name + ".bak").c_str()) == INVALID_FILE_ATTRIBUTES,
               "the stale copy was never held, or a backup was made though it was");
        CloseHandle(stale);
        DeleteFileA(partial.c_str());
    }
    if (run.how == RELINKED)
        expect(read_file(elsewhere + ".bak.partial") == "theirs" && read_file("game\\" + elsewhere.substr(6)) == game
                   && GetFileAttributesA((elsewhere + ".bak").c_str()) == INVALID_FILE_ATTRIBUTES
                   && GetFileAttributesA(("game\\" + elsewhere.substr(6) + ".bak").c_str()) == INVALID_FILE_ATTRIBUTES,
               "something was made, removed or written in either folder");
}

} // namespace

// zandor-e2e-driver PATCHER.EXE [SCENARIO...], run in a folder it may write to.
int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    patcher = argc > 1 ? argv[1] : "";
    int passed = 0, failed = 0;
    for (const scenario &sc : SCENARIOS) {
        if (argc > 2 && std::find(argv + 2, argv + argc, std::string(sc.name)) == argv + argc)
            continue;
        std::printf("e2e: %s\n", sc.name);
        failures = run_number = 0;
        std::string name = (sc.folder != nullptr ? std::string(sc.folder) + "\\" : "") + sc.name + ".exe";
        // The game's folder reached through a link another user may re-point.
        if (sc.runs[0].how == RELINKED)
            expect(CreateDirectoryA("game", nullptr) && CreateDirectoryA("other", nullptr) && host("relink link game"),
                   "cannot lay out the linked folders");
        else if (sc.folder != nullptr)
            CreateDirectoryA(sc.folder, nullptr);
        sample_recipe now{};
        sample_defaults(&now, sc.size);
        now.seed = static_cast<uint32_t>(11 + (&sc - SCENARIOS));
        apply(&now, sc.sample);
        // Laid out once: every later file keeps its sites where they are.
        expect(sample_layout(&now, &now) == 0 && sample_write(name.c_str(), &now) == 0, "no sample " + name);
        while (++run_number <= 5 && sc.runs[run_number - 1].how != DONE && failures == 0)
            play(sc.runs[run_number - 1], sc.folder, name, &now);
        (failures == 0 ? passed : failed) += 1;
        std::printf("  %s %s\n", failures == 0 ? "ok  " : "FAIL", sc.name);
    }
    std::printf("e2e: %d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
