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
#include <vector>

#include "dialog/options_values.h"
#include "patch/results.h"
#include "sample_sites.h"

namespace {

using where = std::source_location;

constexpr int WAIT_MS = 30000, POLL_MS = 50; // a cold Wine start can be slow
const char *patcher = "";
int failures = 0, row_line = 0; // of the scenario being played; the line of its run being played

// ---- playing the user of another process ----

// Records a failed expectation of the running scenario at the checking line.
bool expect(bool ok, const std::string &what, where w = where::current())
{
    if (!ok)
        std::printf("    FAIL (the run at line %d, checked at line %u): %s\n", row_line, w.line(), what.c_str());
    failures += ok ? 0 : 1;
    return ok;
}

std::string text_of(HWND dlg, int id)
{
    char buf[1024] = {};
    GetDlgItemTextA(dlg, id, buf, sizeof buf);
    return buf;
}

// What a control tells its dialog when used: a click unless named.
void press(HWND dlg, int id, int code = BN_CLICKED)
{
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

// The whole file; empty when it cannot be read.
std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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

// ---- what a sample holds and what the dialog shows of it ----

// What the player types into each field (start year, Bosman year, promoted,
// relegated, delay: as options_pairs) and which check boxes end up ticked:
// as in the full run unless named.
struct choices {
    int typed[PAIR_COUNT] = {2010, 2005, 3, 2, 3};
    bool wc06 = true, leave_years = false, keep_conf = false, no_delay = false, exitgame = true;
};

// Short names for the tables below.
constexpr site_id START = SITE_START_YEAR, WC06 = SITE_WC06_FIX, BOSMAN = SITE_BOSMAN_YEAR, DELAY = SITE_CLICK_DELAY,
                  EXITGAME = SITE_EXITGAME, COUNTS = SITE_CONF_COUNTS, PROMOTED = SITE_CONF_PROMOTED;
constexpr sample_state GAME = SAMPLE_GAME, PATCHED = SAMPLE_PATCHED, ABSENT = SAMPLE_ABSENT;

constexpr int ALWAYS = SITE_COUNT, ANY_YEAR = SITE_COUNT + 1;

// Whether the dialog offers what this site (or ALWAYS, or ANY_YEAR) controls.
// The World Cup fix needs the start year too; the conference blocks are
// usable only as a pair that agrees on a promoted count.
bool usable(const sample_recipe &r, int site)
{
    auto known = [&](int s) { return r.site[s].state == GAME || r.site[s].state == PATCHED; };
    const sample_site &counts = r.site[COUNTS], &prom = r.site[PROMOTED];
    if (site == ALWAYS || site == ANY_YEAR)
        return site == ALWAYS || usable(r, START) || usable(r, BOSMAN);
    if (site != COUNTS && site != PROMOTED)
        return known(site) && (site != WC06 || known(START));
    const bool agree = counts.param == prom.param && prom.param >= 1 && prom.param <= 7;
    return known(COUNTS) && known(PROMOTED) && (prom.state == GAME || (counts.state == PATCHED && agree));
}

// clang-format off
// Each control's id (0xFFFF: a label) and the site that enables it.
const int CONTROLS[][2] = {
    {0xFFFF, ALWAYS}, {103, START}, {102, START}, {0xFFFF, START}, {112, WC06}, {105, BOSMAN}, {104, BOSMAN},
    {0xFFFF, BOSMAN}, {113, ANY_YEAR}, {0xFFFF, ALWAYS}, {107, COUNTS}, {106, COUNTS}, {0xFFFF, COUNTS},
    {109, COUNTS}, {108, COUNTS}, {0xFFFF, COUNTS}, {114, COUNTS}, {0xFFFF, ALWAYS}, {111, DELAY}, {110, DELAY},
    {0xFFFF, DELAY}, {115, DELAY}, {116, EXITGAME}, {100, ALWAYS}, {101, ALWAYS},
};
// clang-format on

// Each control of the options dialog in creation order against what the
// sample should show, as ID [disabled] [ticked], an up-down with "LO-HI at
// POS" (what its buddy shows: the value each pair shows first, clamped).
void expect_options(HWND dlg, const sample_recipe &r, where w = where::current())
{
    const sample_site &counts = r.site[COUNTS], &delay = r.site[DELAY], &prom = r.site[PROMOTED];
    // A patched promoted block takes its count from conf_counts, even when they disagree.
    const bool conf_shown = prom.state == PATCHED && counts.state == PATCHED && counts.param >= 1 && counts.param <= 7;
    const int first[] = {usable(r, START) ? r.site[START].param : 0, usable(r, BOSMAN) ? r.site[BOSMAN].param : 0,
                         conf_shown ? counts.param : 1, counts.state == PATCHED ? counts.param2 : 3,
                         delay.state == PATCHED && delay.param >= 1 && delay.param <= 6 ? delay.param : 5};
    auto describe = [](int id, bool on, bool tick) {
        return std::to_string(id) + (on ? "" : " disabled") + (tick ? " ticked" : "");
    };
    auto span = [](int lo, int hi, int pos) {
        return " up-down " + std::to_string(lo) + "-" + std::to_string(hi) + " at " + std::to_string(pos);
    };
    HWND c = GetWindow(dlg, GW_CHILD);
    for (const auto &[id, needs] : CONTROLS) {
        // An installed fix starts ticked.
        const bool on = usable(r, needs), fixed = id == ID_WC06_CHECK || id == ID_EXITGAME_CHECK;
        std::string want = describe(id, on, fixed && on && r.site[needs].state == PATCHED),
                    got = describe(GetDlgCtrlID(c) & 0xFFFF, IsWindowEnabled(c),
                                   SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED);
        const LRESULT range = SendMessageA(c, UDM_GETRANGE, 0, 0), pos = SendMessageA(c, UDM_GETPOS, 0, 0);
        for (int k = 0; k < PAIR_COUNT; ++k)
            if (const updown_pair &p = options_pairs[k]; p.updown == id) {
                want += span(p.min, p.max, std::clamp(first[k], p.min, p.max));
                got += span(HIWORD(range), LOWORD(range), static_cast<int>(pos));
            }
        expect(got == want, "control " + got + ", expected " + want, w);
        c = GetWindow(c, GW_HWNDNEXT);
    }
    expect(c == nullptr, "the options dialog has more controls than expected", w);
}

// ---- message boxes and the chooser ----

// A box by its caption, how its text begins, how many lines it has (0: any),
// and how the patcher exits when a run ends with it.
struct box_spec {
    const char *caption, *text;
    int lines, exit_code = 0;
};

// The first line, a blank one, then the file and why; or, offering to retry, just the first line.
const box_spec OPEN_ERROR = {"Error", "Error opening file\n\n", 3, -1}, RETRY = {"Error", "Error opening file ", 1};
// The first line, a blank one, the file and what failed, then why.
const box_spec WRITE_ERROR = {"Error", "Error writing file\n\n", 4, 1};
const box_spec WC06_KEPT = {"Warning", "The World Cup 06 fix could not be removed: ", 1};
const box_spec OUT_OF_RANGE = {"Error", "Game starts: choose a year from 2001 to 2020.", 1};
// What an OK that worked did: the settings changed and the way back, or that nothing could be written.
const box_spec DONE = {"Done", "", 0}, NOTHING_WRITTEN = {"Done", "No part of ", 1};

// Waits for the box, checks its text (ending with the cause named) and
// answers it: a button id, or 0 for the Enter key. The options dialog, when
// open, must take no input meanwhile. What the box said.
std::string meet(const box_spec &b, int answer, HWND dlg = nullptr, file_cause why = {}, where w = where::current())
{
    HWND box = wait_window(b.caption, w);
    std::string text = text_of(box, 0xFFFF);
    expect(text.starts_with(b.text) && (b.lines == 0 || std::count(text.begin(), text.end(), '\n') == b.lines - 1)
               && !text.ends_with('\n') && (why == CAUSE_NONE || text.ends_with(cause_text(why)))
               && !IsWindowEnabled(dlg),
           std::string(b.caption) + " box says \"" + text + "\", or the dialog under it takes input", w);
    answer != 0 ? press(box, answer) : (void)host("keys Return");
    return text;
}

// The old-style chooser, showing files of this type, its Read Only box (chx1) hidden.
HWND meet_chooser(const char *filter, where w = where::current())
{
    HWND dlg = wait_window("Select your ZANDOR executable", w);
    std::string type = text_of(dlg, 0x470);
    expect(GetDlgItem(dlg, 0x480) != nullptr && GetDlgItem(dlg, 0x460) != nullptr && type.starts_with(filter)
               && GetDlgItem(dlg, 0x410) != nullptr && !IsWindowVisible(GetDlgItem(dlg, 0x410)),
           "no old-style chooser showing " + std::string(filter) + " files without Read Only: " + type, w);
    return dlg;
}

// ---- the scenarios ----

// The last six press OK after setting up an obstacle; PLANTED cancels with
// DLLs planted beside the patcher; after a value out of range, Cancel.
enum way { OK, CANCEL, CLOSE_BOX, KEYS, RETRY_CHOOSER, MISSING, PLANTED, TYPO, IMMUTABLE, HELD_OPEN, GROWN, CHANGED,
           HELD_BACKUP, RELINKED };

struct run_row {
    int line; // the row's own
    way how;
    choices c = {};
    std::vector<site_is> after = {}; // the sites OK writes; none: the file stays as it is
    const box_spec *box = nullptr;   // shown after the chooser or OK
    file_cause why = CAUSE_NONE;     // what the box's text ends with
};

struct scenario {
    const char *name;
    std::vector<site_is> sample;  // over the game's own sites
    std::vector<run_row> runs;    // on the same file, one after another
    const char *folder = nullptr; // where the file lies and the patcher starts, when not here
};

const choices FULL = {}, PARTIAL = {.typed = {2004, 2012, 6, 1, 4}};
// What FULL writes over the game's own sample.
const std::vector<site_is> FULL_WRITTEN = {
    {START, GAME, 2010}, {WC06, PATCHED}, {BOSMAN, GAME, 2005}, {DELAY, PATCHED, 3}, {EXITGAME, PATCHED},
    {COUNTS, PATCHED, 3, 2}, {PROMOTED, PATCHED, 3}};

// clang-format off
const scenario SCENARIOS[] = {
    {"full-run", {}, {{__LINE__, OK, FULL, FULL_WRITTEN}}},
    // Chooser, scan and write in a folder outside any ANSI code page (the
    // manifest's UTF-8 one): Cyrillic, CJK, and a long name with spaces.
    {"non-ascii-path", {}, {{__LINE__, OK, FULL, FULL_WRITTEN}}, "Игры ЗАНДОР 足球 ゲーム (x86)"},
    // The retried chooser keeps the file type the cancelled one left. Wine's
    // old-style chooser accepts a name that is no file; the open fails.
    // Whatever was changed, Cancel and the close box write nothing. Real key
    // presses: Enter and Escape do not end the dialog, only the check boxes
    // are tab stops, Space ticks, Alt+F4 closes.
    {"chooser-cancel-and-keys", {{DELAY, PATCHED, 2}, {EXITGAME, PATCHED}},
     {{__LINE__, RETRY_CHOOSER}, {__LINE__, MISSING, {}, {}, &OPEN_ERROR, CAUSE_MISSING}, {__LINE__, CANCEL, FULL},
      {__LINE__, CLOSE_BOX, FULL}, {__LINE__, KEYS}}},
    {"nothing-found", {{START, ABSENT}, {WC06, ABSENT}, {BOSMAN, ABSENT}, {DELAY, ABSENT}, {EXITGAME, ABSENT},
                       {COUNTS, ABSENT}, {PROMOTED, ABSENT}}, {{__LINE__, OK, PARTIAL}}},
    // Marker DLLs under the names of the two system DLLs that are not Known
    // DLLs, beside the patcher, with Wine told to prefer DLLs on disk.
    {"planted-dlls", {}, {{__LINE__, PLANTED, FULL}}},
    // The start year without the World Cup block; one conference block
    // alone is no use.
    {"start-delay-one-conf", {{WC06, ABSENT}, {BOSMAN, ABSENT}, {DELAY, PATCHED, 6}, {EXITGAME, ABSENT},
                              {COUNTS, GAME, 4, 2}, {PROMOTED, ABSENT, 4}},
     {{__LINE__, OK, PARTIAL, {{START, GAME, 2004}, {DELAY, PATCHED, 4}}}}},
    // The World Cup block without its start year; the Bosman year alone
    // enables "Leave years untouched"; code we do not know stays disabled.
    {"odd-blocks", {{START, SAMPLE_DUPLICATED}, {DELAY, SAMPLE_UNRECOGNISED}, {EXITGAME, SAMPLE_UNRECOGNISED},
                    {COUNTS, PATCHED, 4, 2}, {PROMOTED, PATCHED, 4}},
     {{__LINE__, OK, PARTIAL, {{BOSMAN, GAME, 2012}, {COUNTS, PATCHED, 6, 1}, {PROMOTED, PATCHED, 6}}}}},
    // A patched promoted block shows the count of conf_counts it disagrees with.
    {"conf-disagrees", {{WC06, PATCHED}, {DELAY, PATCHED, 6}, {COUNTS, PATCHED, 4, 2}, {PROMOTED, PATCHED, 5}},
     {{__LINE__, OK, PARTIAL, {{START, GAME, 2004}, {BOSMAN, GAME, 2012}, {DELAY, PATCHED, 4}, {EXITGAME, PATCHED}}}}},
    // Years and a relegated count written by the command-line tool outside
    // the fields' ranges show clamped; fields left showing that leave their
    // sites byte for byte: OK changes only the delay.
    {"outside-ranges", {{START, GAME, 2500}, {WC06, PATCHED}, {BOSMAN, GAME, 5000}, {DELAY, PATCHED, 3},
                        {EXITGAME, PATCHED}, {COUNTS, PATCHED, 3, 9}, {PROMOTED, PATCHED, 3}},
     {{__LINE__, OK, {.typed = {2020, 3000, 3, 7, 2}}, {{DELAY, PATCHED, 2}}}}},
    // A year typed out of range is said, and the dialog stays open with
    // nothing written, the delay typed with it neither.
    {"typed-out-of-range", {}, {{__LINE__, TYPO, {.typed = {1999, 2005, 3, 2, 4}}, {}, &OUT_OF_RANGE}}},
    // Root writes through mode 0444, under Wine too: only chattr +i stops it.
    // The running game holds its exe. Another program grows the file, then
    // makes the Bosman year 2007 while the player changes only the start
    // year: OK would put the 2002 it shows back.
    {"write-obstacles", {},
     {{__LINE__, IMMUTABLE, FULL, {}, &WRITE_ERROR, CAUSE_DENIED}, {__LINE__, HELD_OPEN, FULL, {}, &WRITE_ERROR,
       CAUSE_IN_USE}, {__LINE__, GROWN, FULL, {}, &WRITE_ERROR, CAUSE_CHANGED},
      {__LINE__, CHANGED, {.typed = {2010, 2002, 1, 3, 5}, .wc06 = false, .exitgame = false}, {}, &WRITE_ERROR,
       CAUSE_CHANGED}}},
    // A virus scanner holds a copy a killed run left: it cannot go, so no
    // backup can be made, nothing is written, and the box says why.
    {"backup-held", {}, {{__LINE__, HELD_BACKUP, FULL, {}, &WRITE_ERROR, CAUSE_BACKUP_HELD}}},
    // Another user re-points the game's folder (a link) at one of theirs
    // between the scan and OK: nothing there is read into a backup, made,
    // removed or written, and the game's own file stays as it was.
    {"folder-re-pointed", {}, {{__LINE__, RELINKED, FULL, {}, &WRITE_ERROR, CAUSE_CHANGED}}, "link"},
    // Before 2003 an installed World Cup fix stays, the game's code being unknown.
    {"wc06-kept", {{WC06, PATCHED}},
     {{__LINE__, OK, {.typed = {2002, 2005, 3, 2, 3}}, {{START, GAME, 2002}, {BOSMAN, GAME, 2005}, {DELAY, PATCHED, 3},
       {EXITGAME, PATCHED}, {COUNTS, PATCHED, 3, 2}, {PROMOTED, PATCHED, 3}}, &WC06_KEPT}}},
    // Each run shows what the one before wrote, the range ends included:
    // 7/7/6 and 1/0/1. Then years and an installed delay left alone, an
    // unticked World Cup fix left installed, the conference taken out (its
    // counts still written) and put back with 1 and 3.
    {"patch-then-rescan", {},
     {{__LINE__, OK, {.typed = {2020, 2999, 7, 7, 6}}, {{START, GAME, 2020}, {WC06, PATCHED}, {BOSMAN, GAME, 2999},
       {DELAY, PATCHED, 6}, {EXITGAME, PATCHED}, {COUNTS, PATCHED, 7, 7}, {PROMOTED, PATCHED, 7}}},
      {__LINE__, OK, {.typed = {2002, 2003, 1, 0, 1}, .leave_years = true, .exitgame = false},
       {{DELAY, PATCHED, 1}, {EXITGAME, GAME}, {COUNTS, PATCHED, 1, 0}, {PROMOTED, PATCHED, 1}}},
      {__LINE__, OK, {.typed = {2002, 2001, 3, 3, 2}, .wc06 = false, .keep_conf = true, .no_delay = true,
                      .exitgame = false},
       {{START, GAME, 2002}, {BOSMAN, GAME, 2001}, {COUNTS, GAME, 3, 3}, {PROMOTED, GAME, 3}}},
      {__LINE__, OK, {.typed = {2001, 2001, 1, 3, 1}, .wc06 = false, .leave_years = true, .exitgame = false},
       {{COUNTS, PATCHED, 1}, {PROMOTED, PATCHED, 1}}}}},
};
// clang-format on

// Puts the marker DLL beside the patcher under both names; or, `on` false,
// checks that neither ran and takes them away.
void plant(bool on)
{
    std::string dir(patcher, std::string(patcher).rfind('\\') + 1), marker(MAX_PATH, '\0');
    marker.resize(GetModuleFileNameA(nullptr, marker.data(), MAX_PATH));
    marker.replace(marker.rfind('\\') + 1, std::string::npos, "zandor-e2e-marker.dll");
    for (const std::string &dll : {dir + "COMCTL32.DLL", dir + "COMDLG32.DLL"})
        expect(on ? CopyFileA(marker.c_str(), dll.c_str(), FALSE) : !exists(dll + ".ran") && DeleteFileA(dll.c_str()),
               (on ? "cannot plant " : "ran, or cannot be taken away: ") + dll);
}

// One run of the patcher, started in `folder` (null: here) where the file
// `name` lies; `now` follows what the file should hold. An obstacle is set
// up before the patcher starts or between the scan and OK, and what it left
// is checked after the run.
void play(const run_row &run, const char *folder, const std::string &name, sample_recipe *now)
{
    const way how = run.how;
    row_line = run.line;
    const int exit_code = run.box != nullptr ? run.box->exit_code : 0;
    // The file as it was; a stale copy a killed run left; behind the link, the
    // game's own folder and the one another user re-points it at.
    const std::string game = read_file(name), partial = name + ".bak.partial", leaf = name.substr(name.find('\\') + 1),
                      own = "game\\" + leaf, theirs = "other\\" + leaf;
    std::string want = game; // unless OK writes, the file as it is
    if (how == PLANTED)
        plant(true);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES; // no handles: the scan's diagnostics stay out of this report
    PROCESS_INFORMATION pi{};
    if (!expect(CreateProcessA(patcher, nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi),
                "cannot start " + std::string(patcher)))
        return;
    // The running game holds its exe from before the patcher reads it.
    HANDLE held = nullptr;
    if (how == HELD_OPEN)
        held = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    meet({"Welcome", "Welcome to Velmar's ZANDOR patcher.\n", 14}, how == KEYS ? 0 : IDOK);
    // The chooser opens in the patcher's current folder, this one.
    HWND chooser = meet_chooser("Executables"), dlg = nullptr;
    if (how == RETRY_CHOOSER) {
        SendDlgItemMessageA(chooser, 0x470, CB_SETCURSEL, 1, 0);
        press(chooser, 0x470, CBN_SELCHANGE);
        press(chooser, IDCANCEL);
        meet(RETRY, IDRETRY);
        press(meet_chooser("All"), IDCANCEL);
        meet(RETRY, IDCANCEL);
    } else if (how == KEYS) {
        expect(host("keys type " + name) && host("keys Return"), "cannot send keys");
    } else {
        // The whole path: Wine's chooser hands a bare name back as it is.
        char full[4 * MAX_PATH] = {};
        GetFullPathNameA(name.c_str(), sizeof full, full, nullptr);
        SetDlgItemTextA(chooser, 0x480, how == MISSING ? "no-such-file.exe" : full);
        press(chooser, IDOK);
    }
    if (how != RETRY_CHOOSER && how != MISSING) {
        dlg = wait_window("Velmar's ZANDOR patcher");
        expect_options(dlg, *now);
        // Real keys; or the values typed and the boxes clicked that differ,
        // skipping the disabled ones as a player must. The boxes as options_check_ids.
        const bool ticks[] = {run.c.exitgame, run.c.wc06, run.c.leave_years, run.c.keep_conf, run.c.no_delay};
        for (const char *k : {"Escape", "Return", "space", "Tab", "space"})
            expect(how != KEYS || host(std::string("keys ") + k), "cannot send keys");
        for (int k = 0; k < PAIR_COUNT && how != KEYS; ++k) {
            HWND edit = GetDlgItem(dlg, options_pairs[k].edit), check = GetDlgItem(dlg, options_check_ids[k]);
            if (IsWindowEnabled(edit))
                SetWindowTextA(edit, std::to_string(run.c.typed[k]).c_str());
            if (IsWindowEnabled(check) && (SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED) != ticks[k])
                SendMessageA(check, BM_CLICK, 0, 0);
        }
        Sleep(500);
        expect(how != KEYS || (IsDlgButtonChecked(dlg, ID_WC06_CHECK) && IsDlgButtonChecked(dlg, ID_LEAVE_YEARS_CHECK)),
               "Space, Tab, Space should tick the World Cup box and the one under it");
        // The obstacles met between the scan and OK. Another program grows the
        // file, or makes its Bosman year 2002 (d2 07) 2007; a virus scanner
        // holds a stale copy; another user's file differs in one byte.
        expect(how != IMMUTABLE || host("immutable " + name + " on"), "cannot make " + name + " immutable");
        const std::streamoff at = how == GROWN ? now->size : now->site[BOSMAN].at + patch_catalogue[BOSMAN].sig_len;
        if (how == GROWN || how == CHANGED)
            std::fstream(name, std::ios::binary | std::ios::in | std::ios::out).seekp(at).put('\xd7');
        if (how == HELD_BACKUP && std::ofstream(partial) << "cut short")
            held = CreateFileA(partial.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        expect(how != RELINKED
                   || (std::ofstream(theirs, std::ios::binary) << std::string(game).replace(1, 1, 1, game[1] ^ 1)
                       && std::ofstream(theirs + ".bak.partial") << "theirs" && host("relink link other")),
               "cannot re-point the folder");
        want = read_file(name);
        if (how == KEYS)
            host("keys alt+F4");
        else if (how == CLOSE_BOX)
            PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            press(dlg, how == CANCEL || how == PLANTED ? ID_CANCEL : ID_OK);
    }
    if (run.box != nullptr)
        meet(*run.box, IDOK, dlg, run.why);
    // An OK that worked says what it did.
    if (how == OK && exit_code == 0) {
        const std::string text = meet(run.after.empty() ? NOTHING_WRITTEN : DONE, IDOK, dlg);
        expect(run.after.empty() || (text.find(" -> ") != text.npos && text.find("restore") != text.npos),
               "Done box says \"" + text + "\"");
    }
    if (how == TYPO)
        press(dlg, ID_CANCEL);
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(pi.hProcess, WAIT_MS);
    GetExitCodeProcess(pi.hProcess, &code);
    expect(static_cast<int>(code) == exit_code, "exit code " + std::to_string(static_cast<int>(code)));
    // After a failure the patcher may still wait for its player.
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // What the obstacle left, then the obstacle taken away. A held stale copy
    // stops the backup; nothing is made, removed or written behind the link.
    expect(how != HELD_BACKUP || (held != nullptr && held != INVALID_HANDLE_VALUE && !exists(name + ".bak")),
           "the stale copy was never held, or a backup was made though it was");
    CloseHandle(held); // none when not held
    expect(how != HELD_BACKUP || DeleteFileA(partial.c_str()), "cannot take the stale copy away");
    expect(how != RELINKED
               || (read_file(theirs + ".bak.partial") == "theirs" && read_file(own) == game && !exists(theirs + ".bak")
                   && !exists(own + ".bak")),
           "something was made, removed or written in either folder");
    expect(how != IMMUTABLE || host("immutable " + name + " off"), "cannot make " + name + " writable again");
    if (how == PLANTED)
        plant(false);
    // A written file holds what the sample maker makes of the recipe written.
    if (!run.after.empty()) {
        // The backup made from the path the chooser gave: a short 8.3 or mangled name would show here.
        *now = with(*now, run.after);
        expect(exists(name + ".bak") && sample_write("expected.tmp", now) == 0, "no .bak, or no expected file");
        want = read_file("expected.tmp");
    }
    expect(read_file(name) == want, name + " is not the file expected");
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
        failures = row_line = 0;
        std::string name = (sc.folder != nullptr ? std::string(sc.folder) + "\\" : "") + sc.name + ".exe";
        // The game's folder reached through a link another user may re-point.
        if (sc.runs[0].how == RELINKED)
            expect(CreateDirectoryA("game", nullptr) && CreateDirectoryA("other", nullptr) && host("relink link game"),
                   "cannot lay out the linked folders");
        else if (sc.folder != nullptr)
            CreateDirectoryA(sc.folder, nullptr);
        // Over several 64 KiB search windows, laid out once: every later file
        // keeps its sites where they are.
        sample_recipe now = sample_file(name.c_str(), sc.sample, 300000);
        expect(now.size > 0, "no sample " + name);
        for (auto run = sc.runs.begin(); run != sc.runs.end() && failures == 0; ++run)
            play(*run, sc.folder, name, &now);
        (failures == 0 ? passed : failed) += 1;
        std::printf("  %s %s\n", failures == 0 ? "ok  " : "FAIL", sc.name);
    }
    std::printf("e2e: %d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
