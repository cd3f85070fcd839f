// End-to-end scenarios: the real zandor-patcher.exe driven from another
// Win32 process as a player would drive it (finding its windows by title,
// reading and setting its controls, pressing its buttons), each scenario on
// its own fresh sample image. Every wait has a timeout.

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <source_location>
#include <string>

#include "patch/results.h"
#include "tools/sample_image.h"

namespace {

using where = std::source_location;

constexpr int WAIT_MS = 30000; // a cold Wine start can be slow
constexpr int POLL_MS = 50;
const char *patcher = "";
int failures = 0, run_number = 0;

// ---- playing the user of another process ----

// Records a failed expectation of the running scenario at the checking line.
bool expect(bool ok, const std::string &what, where w = where::current())
{
    if (!ok) {
        ++failures;
        std::printf("    FAIL (run %d, line %u): %s\n", run_number, static_cast<unsigned>(w.line()),
                    what.c_str());
    }
    return ok;
}

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

bool ticked(HWND box)
{
    return send(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
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
    for (int waited = 0; waited < WAIT_MS && !IsWindowVisible(found = FindWindowA(nullptr, title));
         waited += POLL_MS)
        Sleep(POLL_MS);
    // A modal dialog shows itself when its loop first goes idle: let it
    // finish setting up before anyone looks.
    Sleep(200);
    return expect(IsWindowVisible(found), "no window \"" + std::string(title) + "\"", w) ? found : nullptr;
}

// One request to the e2e script, served outside Wine: "keys KEY",
// "keys type TEXT", "immutable FILE on|off". True when it was done.
bool host(const std::string &line)
{
    std::ofstream("host.req.tmp", std::ios::binary) << line << '\n';
    // The script polls for host.req: it must never see a half-written one.
    MoveFileExA("host.req.tmp", "host.req", MOVEFILE_REPLACE_EXISTING);
    std::string reply;
    for (int waited = 0; waited < WAIT_MS && (reply = read_file("host.ack")).empty(); waited += POLL_MS)
        Sleep(POLL_MS);
    DeleteFileA("host.ack");
    return reply.starts_with("ok");
}

// ---- what a sample holds, what the dialog shows of it, what OK makes of it ----

// The five edit/up-down pairs (edits 103..111, up-downs 102..110: start
// year, Bosman year, promoted, relegated, click delay) and the five check
// boxes (112..116: World Cup fix, leave years, keep conference, no delay,
// close exits), in id order.
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
    auto known = [&](int s) { return r.site[s].state == SAMPLE_GAME || r.site[s].state == SAMPLE_PATCHED; };
    const sample_site &counts = r.site[SITE_CONF_COUNTS], &prom = r.site[SITE_CONF_PROMOTED];
    if (site != SITE_CONF_COUNTS && site != SITE_CONF_PROMOTED)
        return known(site);
    return known(SITE_CONF_COUNTS) && known(SITE_CONF_PROMOTED)
           && (prom.state == SAMPLE_GAME
               || (counts.state == SAMPLE_PATCHED && counts.param == prom.param && within(prom.param, 1, 7)));
}

// What each pair shows first; the up-down clamps it to its range.
int shown(const sample_recipe &r, int k)
{
    const sample_site &counts = r.site[SITE_CONF_COUNTS], &delay = r.site[SITE_CLICK_DELAY];
    // A patched promoted block takes its count from conf_counts, even when they disagree.
    bool conf_patched = r.site[SITE_CONF_PROMOTED].state == SAMPLE_PATCHED && counts.state == SAMPLE_PATCHED;
    const int v[5] = {usable(r, SITE_START_YEAR) ? r.site[SITE_START_YEAR].param : 0,
                      usable(r, SITE_BOSMAN_YEAR) ? r.site[SITE_BOSMAN_YEAR].param : 0,
                      conf_patched && within(counts.param, 1, 7) ? counts.param : 1,
                      counts.state == SAMPLE_PATCHED ? counts.param2 : 3,
                      delay.state == SAMPLE_PATCHED && within(delay.param, 1, 6) ? delay.param : 5};
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

// A control as: ID "TEXT" [disabled] [ticked], and an up-down's "LO-HI at POS".
std::string describe(int id, const std::string &text, bool on, bool tick, int lo, int hi, int pos)
{
    std::string s =
        std::to_string(id) + " \"" + text + "\"" + (on ? "" : " disabled") + (tick ? " ticked" : "");
    if (id >= 102 && id <= 110 && id % 2 == 0)
        s += " up-down " + std::to_string(lo) + "-" + std::to_string(hi) + " at " + std::to_string(pos);
    return s;
}

// Each control in creation order against what the sample should show.
void expect_options(HWND dlg, const sample_recipe &r, where w = where::current())
{
    HWND c = GetWindow(dlg, GW_CHILD);
    for (const control &row : CONTROLS) {
        // The pair or check box the control belongs to (0 for the others).
        int k = row.id >= 112 ? row.id - 112 : row.id >= 102 && row.id <= 111 ? (row.id - 102) / 2 : 0;
        int fix = row.id == 112 ? SITE_WC06_FIX : SITE_EXITGAME; // an installed fix starts ticked
        bool tick = (row.id == 112 || row.id == 116) && usable(r, fix) && r.site[fix].state == SAMPLE_PATCHED;
        std::string want = describe(row.id, row.text != nullptr ? row.text : std::to_string(shown(r, k)),
                                    enabled(r, row.needs), tick, RANGE[k][0], RANGE[k][1], shown(r, k));
        LRESULT range = send(c, UDM_GETRANGE, 0, 0);
        std::string got = describe(GetDlgCtrlID(c) & 0xFFFF, text_of(c), IsWindowEnabled(c), ticked(c),
                                   HIWORD(range), LOWORD(range), static_cast<int>(send(c, UDM_GETPOS, 0, 0)));
        expect(got == want, "control " + got + ", expected " + want, w);
        c = GetWindow(c, GW_HWNDNEXT);
    }
    expect(c == nullptr, "the options dialog has more controls than expected", w);
}

// ---- message boxes and the chooser ----

struct box_spec {
    const char *caption, *text; // how the text begins
    int lines;
    bool icon, retry;              // Retry and Cancel instead of OK
    file_cause cause = CAUSE_NONE; // the cause the text ends with
};

const box_spec WELCOME = {"Welcome", "Welcome to Velmar's ZANDOR patcher.\n", 14, false, false};
// The first line, a blank one, then the file and why.
const box_spec OPEN_ERROR = {"Error", "Error opening file\n\n", 3, true, false, CAUSE_MISSING};
const box_spec RETRY = {"Error", "Error opening file ", 1, true, true};
// The first line, a blank one, the file and what failed, then why.
const box_spec WRITE_DENIED = {"Error", "Error writing file\n\n", 4, true, false, CAUSE_DENIED};
const box_spec WRITE_IN_USE = {"Error", "Error writing file\n\n", 4, true, false, CAUSE_IN_USE};
const box_spec WRITE_CHANGED = {"Error", "Error writing file\n\n", 4, true, false, CAUSE_CHANGED};
const box_spec WC06_KEPT = {"Warning", "The World Cup 06 fix could not be removed: ", 1, true, false};

// Waits for the box, checks it and answers it: a button id, or 0 for the Enter key.
void meet(const box_spec &b, int answer, where w = where::current())
{
    HWND box = wait_window(b.caption, w);
    std::string text = text_of(GetDlgItem(box, 0xFFFF));
    bool cause_ok = b.cause == CAUSE_NONE || text.ends_with(cause_text(b.cause));
    expect(text.starts_with(b.text) && std::count(text.begin(), text.end(), '\n') == b.lines - 1
               && !text.ends_with('\n') && cause_ok,
           std::string(b.caption) + " box says \"" + text + "\"", w);
    // The icon control stays even when the box shows no icon.
    bool icon = send(GetDlgItem(box, 0x440), STM_GETICON, 0, 0) != 0;
    auto has = [&](int id) { return IsWindowVisible(GetDlgItem(box, id)) != FALSE; };
    expect(icon == b.icon && has(IDOK) != b.retry && has(IDRETRY) == b.retry && has(IDCANCEL) == b.retry,
           std::string(b.caption) + " box has the wrong icon or buttons", w);
    answer != 0 ? press(box, answer) : (void)host("keys Return");
}

// The old-style chooser, centred by the patcher's hook (screen and window halved apart).
HWND meet_chooser(const char *filter, where w = where::current())
{
    HWND dlg = wait_window("Select your ZANDOR executable", w);
    std::string type = text_of(GetDlgItem(dlg, 0x470));
    RECT rc{};
    GetWindowRect(dlg, &rc);
    expect(GetDlgItem(dlg, 0x480) != nullptr && GetDlgItem(dlg, 0x460) != nullptr && type.starts_with(filter)
               && within(rc.left + rc.right - GetSystemMetrics(SM_CXSCREEN), -1, 1)
               && within(rc.top + rc.bottom - GetSystemMetrics(SM_CYSCREEN), -1, 1),
           "no old-style chooser in the centre showing " + std::string(filter) + " files: " + type, w);
    return dlg;
}

// ---- the scenarios ----

// The last four press OK after setting up an obstacle.
enum way { DONE, OK, CANCEL, CLOSE_BOX, KEYS, RETRY_CHOOSER, MISSING, IMMUTABLE, HELD_OPEN, GROWN, CHANGED };

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
    run_row runs[4];              // on the same file, one after another
    const char *folder = nullptr; // where the file lies and the patcher starts, when not here
};

const choices FULL = {{2010, 2005, 3, 2, 3}, {true, false, false, false, true}};
// A typed delay of 9 is beyond the up-down's range, so the delay shown stays.
const choices PARTIAL = {{2004, 2012, 6, 1, 9}, {true, false, false, false, true}};

// clang-format off
const scenario SCENARIOS[] = {
    {"full-run", "GGGGGGG", {{OK, FULL, "GPGPPPP 2010 2005 3 3 2 3"}}},
    // Whatever was changed, Cancel and the close box write nothing.
    {"cancel-and-close", "GGGPPGG 2001 2002 2", {{CANCEL, FULL}, {CLOSE_BOX, FULL}}},
    // The retried chooser keeps the file type the cancelled one left.
    {"chooser-cancelled", "GGGGGGG", {{RETRY_CHOOSER}}},
    // Wine's old-style chooser accepts a name that is no file; the open fails.
    {"missing-file", "GGGGGGG", {{MISSING, {}, nullptr, -1, &OPEN_ERROR}}},
    {"nothing-found", "-------", {{OK, PARTIAL}}},
    // The start year without the World Cup block; one conference block
    // alone is no use. A typed delay beyond the range leaves the one shown.
    {"start-delay-one-conf", "G--P-G- 2001 2002 6 4 2 4", {{OK, PARTIAL, "G--P-G- 2004 2002 6 4 2 4"}}},
    // The World Cup block without its start year; the Bosman year alone
    // enables "Leave years untouched"; code we do not know stays disabled.
    {"odd-blocks", "DGGUUPP 2001 2002 6 4 2 4", {{OK, PARTIAL, "DGGUUPP 2001 2012 6 6 1 6"}}},
    // A patched promoted block shows the count of conf_counts it disagrees with.
    {"conf-disagrees", "GPGPGPP 2001 2002 6 4 2 5", {{OK, PARTIAL, "GPGPPPP 2004 2012 6 4 2 5"}}},
    // Root writes through mode 0444, under Wine too: only chattr +i stops it.
    {"immutable", "GGGGGGG", {{IMMUTABLE, FULL, nullptr, 1, &WRITE_DENIED}}},
    // The running game holds its exe: the box says so.
    {"held-open", "GGGGGGG", {{HELD_OPEN, FULL, nullptr, 1, &WRITE_IN_USE}}},
    // Another program grows the file, or puts code we do not know in the exit block.
    {"grown", "GGGGGGG", {{GROWN, FULL, nullptr, 1, &WRITE_CHANGED}}},
    {"block-changed", "GGGGGGG", {{CHANGED, FULL, nullptr, 1, &WRITE_CHANGED}}},
    // Chooser, scan and write in folders outside any ANSI code page (the
    // manifest's UTF-8 one), and in a long name with spaces.
    {"cyrillic-path", "GGGGGGG", {{OK, FULL, "GPGPPPP 2010 2005 3 3 2 3"}}, "Игры ЗАНДОР"},
    {"cjk-path", "GGGGGGG", {{OK, FULL, "GPGPPPP 2010 2005 3 3 2 3"}}, "足球 ゲーム"},
    {"spaces-path", "GGGGGGG", {{OK, FULL, "GPGPPPP 2010 2005 3 3 2 3"}}, "Program Files (x86)"},
    // Before 2003 an installed World Cup fix stays, the game's code being unknown.
    {"wc06-kept", "GPGGGGG",
     {{OK, {{2002, 2005, 3, 2, 3}, {true, false, false, false, true}}, "GPGPPPP 2002 2005 3 3 2 3", 0,
       &WC06_KEPT}}},
    // Each run shows what the one before wrote, the range ends included:
    // 7/7/6 and 1/0/1. Then years and an installed delay left alone, an
    // unticked World Cup fix left installed, the conference taken out (its
    // counts still written) and put back with 1 and 3.
    {"patch-then-rescan", "GGGGGGG",
     {{OK, {{2020, 2999, 7, 7, 6}, {true, false, false, false, true}}, "GPGPPPP 2020 2999 6 7 7 7"},
      {OK, {{2002, 2003, 1, 0, 1}, {true, true, false, false, false}}, "GPGPGPP 2020 2999 1 1 0 1"},
      {OK, {{2002, 2001, 3, 3, 2}, {false, false, true, true, false}}, "GPGPGGG 2002 2001 1 3 3 3"},
      {OK, {{2001, 2001, 1, 3, 1}, {false, true, false, false, false}}, "GPGPGPP 2002 2001 1 1 3 1"}}},
    // Real key presses: Enter and Escape do not end the dialog, only the
    // check boxes are tab stops, Space ticks, Alt+F4 closes.
    {"keyboard", "GGGGGGG", {{KEYS}}},
};
// clang-format on

// One run of the patcher, started in `folder` (null: here) where the file
// `name` lies; `now` follows what the file should hold.
void play(const run_row &run, const char *folder, const std::string &name, sample_recipe *now)
{
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES; // no handles: the scan's diagnostics stay out of this report
    PROCESS_INFORMATION pi{};
    if (!expect(CreateProcessA(patcher, nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi),
                "cannot start " + std::string(patcher)))
        return;
    std::string want = read_file(name); // unless OK writes, the file as it is before the end
    HANDLE held = nullptr;
    meet(WELCOME, run.how == KEYS ? 0 : IDOK);
    // The chooser opens in the patcher's current folder, this one.
    HWND chooser = meet_chooser("Executables");
    if (run.how == RETRY_CHOOSER) {
        HWND types = GetDlgItem(chooser, 0x470);
        send(types, CB_SETCURSEL, 1, 0);
        send(chooser, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE), reinterpret_cast<LPARAM>(types));
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
        const char *typed = run.how == MISSING ? "no-such-file.exe" : full;
        send(GetDlgItem(chooser, 0x480), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed));
        press(chooser, IDOK);
    }
    if (run.how != RETRY_CHOOSER && run.how != MISSING) {
        HWND dlg = wait_window("Velmar's ZANDOR patcher");
        expect_options(dlg, *now);
        if (run.how == KEYS) {
            for (const char *k : {"Escape", "Return", "space", "Tab", "space"})
                host(std::string("keys ") + k);
        }
        // The values typed and the boxes clicked that differ, skipping the
        // disabled ones as a player must; then the commands Enter and Escape send.
        for (int k = 0; k < 5 && run.how != KEYS; ++k) {
            HWND edit = GetDlgItem(dlg, 103 + 2 * k), box = GetDlgItem(dlg, 112 + k);
            if (IsWindowEnabled(edit))
                send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::to_string(run.c.value[k]).c_str()));
            if (IsWindowEnabled(box) && ticked(box) != run.c.tick[k])
                send(box, BM_CLICK, 0, 0);
        }
        press(dlg, IDOK);
        press(dlg, IDCANCEL);
        Sleep(500);
        expect(IsWindowVisible(dlg),
               "Enter, Escape, or the IDOK or IDCANCEL command ended the options dialog");
        expect(run.how != KEYS || (ticked(GetDlgItem(dlg, 112)) && ticked(GetDlgItem(dlg, 113))),
               "Space, Tab, Space should tick boxes 112 and 113");
        if (run.how == IMMUTABLE)
            expect(host("immutable " + name + " on"), "cannot make " + name + " immutable");
        if (run.how == HELD_OPEN)
            held =
                CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (run.how == GROWN || run.how == CHANGED) {
            std::fstream f(name, std::ios::binary | std::ios::in | std::ios::out);
            int64_t exit_block = now->site[SITE_EXITGAME].at + patch_catalogue[SITE_EXITGAME].sig_len;
            run.how == GROWN ? f.seekp(0, std::ios::end) : f.seekp(exit_block);
            f.put('\x90');
        }
        want = read_file(name);
        if (run.how == KEYS)
            host("keys alt+F4");
        else if (run.how == CLOSE_BOX)
            PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            press(dlg, run.how == CANCEL ? 101 : 100);
    }
    if (run.box != nullptr)
        meet(*run.box, IDOK);
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
    // A written file holds what the sample maker makes of the recipe written.
    if (run.after != nullptr) {
        // Made from the path the chooser gave: a short 8.3 or mangled name would show here.
        expect(folder == nullptr || GetFileAttributesA((name + ".bak").c_str()) != INVALID_FILE_ATTRIBUTES,
               "no " + name + ".bak");
        apply(now, run.after);
        expect(sample_write("expected.tmp", now) == 0, "cannot make the expected file");
        want = read_file("expected.tmp");
    }
    std::string got = read_file(name);
    auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
    expect(got == want, name + " differs first at byte " + std::to_string(at) + " of "
                            + std::to_string(got.size()) + ", expected " + std::to_string(want.size()));
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
        const std::string name =
            (sc.folder != nullptr ? std::string(sc.folder) + "\\" : "") + sc.name + ".exe";
        if (sc.folder != nullptr)
            CreateDirectoryA(sc.folder, nullptr);
        sample_recipe now{};
        sample_defaults(&now, 300000); // several 64 KiB search windows
        now.seed = static_cast<uint32_t>(11 + (&sc - SCENARIOS));
        apply(&now, sc.sample);
        // Laid out once: every later file keeps its sites where they are.
        expect(sample_layout(&now, &now) == 0 && sample_write(name.c_str(), &now) == 0,
               "cannot make the sample " + name);
        while (++run_number <= 4 && sc.runs[run_number - 1].how != DONE && failures == 0)
            play(sc.runs[run_number - 1], sc.folder, name, &now);
        (failures == 0 ? passed : failed) += 1;
        std::printf("  %s %s\n", failures == 0 ? "ok  " : "FAIL", sc.name);
    }
    std::printf("e2e: %d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
