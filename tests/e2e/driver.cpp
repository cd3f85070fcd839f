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
#include <optional>
#include <source_location>
#include <string>
#include <utility>
#include <vector>

#include "dialog/options_values.h"
#include "patch/results.h"
#include "sample_sites.h"

namespace {

using where = std::source_location;

constexpr int WAIT_MS = 30000, POLL_MS = 50; // a cold Wine start can be slow
const char *patcher = "";
int failures = 0;
unsigned row_line = 0; // of the run being played

// ---- playing the user of another process ----

// Records a failed expectation of the running scenario at the checking line.
bool expect(bool ok, const std::string &what, where w = where::current())
{
    if (!ok)
        std::printf("    FAIL (the run at line %u, checked at line %u): %s\n", row_line, w.line(), what.c_str());
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

// What the player types into each field, in the order of options_pairs, and
// which check boxes end up ticked: as in the full run unless named.
struct choices {
    int start_year = 2010, bosman_year = 2005, promoted = 3, relegated = 2, delay = 3;
    bool wc06 = true, leave_years = false, keep_conference = false, no_delay = false, exitgame = true;
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
    return std::clamp(v[k], options_pairs[k].min, options_pairs[k].max);
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
    HWND c = GetWindow(dlg, GW_CHILD);
    for (const auto &[id, needs] : CONTROLS) {
        const auto *p = std::find_if(std::begin(options_pairs), std::end(options_pairs),
                                     [id](const updown_pair &q) { return q.updown == id; });
        const bool updown = p != std::end(options_pairs);
        // A control as: ID [disabled] [ticked], and an up-down's "LO-HI at POS" (the
        // number its buddy edit shows).
        auto describe = [updown](int at, bool on, bool tick, int lo, int hi, int pos) {
            return std::to_string(at) + (on ? "" : " disabled") + (tick ? " ticked" : "")
                   + (updown ? " up-down " + std::to_string(lo) + "-" + std::to_string(hi) + " at " + std::to_string(pos)
                             : "");
        };
        // An installed fix starts ticked.
        const bool tick = (id == ID_WC06_CHECK || id == ID_EXITGAME_CHECK) && usable(r, needs)
                          && r.site[needs].state == SAMPLE_PATCHED;
        const std::string want = updown ? describe(id, usable(r, needs), tick, p->min, p->max, shown(r, p - options_pairs))
                                        : describe(id, usable(r, needs), tick, 0, 0, 0);
        const LRESULT range = SendMessageA(c, UDM_GETRANGE, 0, 0);
        const std::string got = describe(GetDlgCtrlID(c) & 0xFFFF, IsWindowEnabled(c),
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
enum way { OK, CANCEL, CLOSE_BOX, KEYS, RETRY_CHOOSER, MISSING, PLANTED, IMMUTABLE, HELD_OPEN, GROWN, CHANGED, HELD_BACKUP,
           RELINKED, TYPO };

struct run_row {
    where row;
    way how;
    choices c = {};
    std::optional<std::vector<site_is>> after = {}; // the sites OK writes; none: the file stays as it is
    int exit_code = 0;
    const box_spec *box = nullptr; // shown after the chooser or OK
};

struct scenario {
    const char *name;
    std::vector<site_is> sample;  // over the game's own sites
    std::vector<run_row> runs;    // on the same file, one after another
    const char *folder = nullptr; // where the file lies and the patcher starts, when not here
    int64_t size = 300000;        // several 64 KiB search windows
};

const choices FULL = {}, PARTIAL = {.start_year = 2004, .bosman_year = 2012, .promoted = 6, .relegated = 1, .delay = 4};
// What FULL writes over the game's own sample.
const std::vector<site_is> FULL_WRITTEN = {
    {SITE_START_YEAR, SAMPLE_GAME, 2010}, {SITE_WC06_FIX, SAMPLE_PATCHED},         {SITE_BOSMAN_YEAR, SAMPLE_GAME, 2005},
    {SITE_CLICK_DELAY, SAMPLE_PATCHED, 3}, {SITE_EXITGAME, SAMPLE_PATCHED}, {SITE_CONF_COUNTS, SAMPLE_PATCHED, 3, 2},
    {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 3}};

const scenario SCENARIOS[] = {
    {"full-run", {}, {{where::current(), OK, FULL, FULL_WRITTEN}}},
    // Chooser, scan and write in a folder outside any ANSI code page (the
    // manifest's UTF-8 one): Cyrillic, CJK, and a long name with spaces.
    {"non-ascii-path", {}, {{where::current(), OK, FULL, FULL_WRITTEN}}, "Игры ЗАНДОР 足球 ゲーム (x86)"},
    // The retried chooser keeps the file type the cancelled one left. Wine's
    // old-style chooser accepts a name that is no file; the open fails.
    // Whatever was changed, Cancel and the close box write nothing. Real key
    // presses: Enter and Escape do not end the dialog, only the check boxes
    // are tab stops, Space ticks, Alt+F4 closes.
    {"chooser-cancel-and-keys", {{SITE_CLICK_DELAY, SAMPLE_PATCHED, 2}, {SITE_EXITGAME, SAMPLE_PATCHED}},
     {{where::current(), RETRY_CHOOSER}, {where::current(), MISSING, {}, {}, -1, &OPEN_ERROR},
      {where::current(), CANCEL, FULL}, {where::current(), CLOSE_BOX, FULL}, {where::current(), KEYS}}},
    {"nothing-found",
     {{SITE_START_YEAR, SAMPLE_ABSENT}, {SITE_WC06_FIX, SAMPLE_ABSENT}, {SITE_BOSMAN_YEAR, SAMPLE_ABSENT},
      {SITE_CLICK_DELAY, SAMPLE_ABSENT}, {SITE_EXITGAME, SAMPLE_ABSENT}, {SITE_CONF_COUNTS, SAMPLE_ABSENT},
      {SITE_CONF_PROMOTED, SAMPLE_ABSENT}},
     {{where::current(), OK, PARTIAL}}},
    // Marker DLLs under the names of the two system DLLs that are not Known
    // DLLs, beside the patcher, with Wine told to prefer DLLs on disk.
    {"planted-dlls", {}, {{where::current(), PLANTED, FULL}}},
    // The start year without the World Cup block; one conference block
    // alone is no use.
    {"start-delay-one-conf",
     {{SITE_WC06_FIX, SAMPLE_ABSENT}, {SITE_BOSMAN_YEAR, SAMPLE_ABSENT}, {SITE_CLICK_DELAY, SAMPLE_PATCHED, 6},
      {SITE_EXITGAME, SAMPLE_ABSENT}, {SITE_CONF_COUNTS, SAMPLE_GAME, 4, 2}, {SITE_CONF_PROMOTED, SAMPLE_ABSENT, 4}},
     {{where::current(), OK, PARTIAL,
       std::vector<site_is>{{SITE_START_YEAR, SAMPLE_GAME, 2004}, {SITE_CLICK_DELAY, SAMPLE_PATCHED, 4}}}}},
    // The World Cup block without its start year; the Bosman year alone
    // enables "Leave years untouched"; code we do not know stays disabled.
    {"odd-blocks",
     {{SITE_START_YEAR, SAMPLE_DUPLICATED}, {SITE_CLICK_DELAY, SAMPLE_UNRECOGNISED}, {SITE_EXITGAME, SAMPLE_UNRECOGNISED},
      {SITE_CONF_COUNTS, SAMPLE_PATCHED, 4, 2}, {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 4}},
     {{where::current(), OK, PARTIAL,
       std::vector<site_is>{{SITE_BOSMAN_YEAR, SAMPLE_GAME, 2012}, {SITE_CONF_COUNTS, SAMPLE_PATCHED, 6, 1},
                            {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 6}}}}},
    // A patched promoted block shows the count of conf_counts it disagrees with.
    {"conf-disagrees",
     {{SITE_WC06_FIX, SAMPLE_PATCHED}, {SITE_CLICK_DELAY, SAMPLE_PATCHED, 6}, {SITE_CONF_COUNTS, SAMPLE_PATCHED, 4, 2},
      {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 5}},
     {{where::current(), OK, PARTIAL,
       std::vector<site_is>{{SITE_START_YEAR, SAMPLE_GAME, 2004}, {SITE_BOSMAN_YEAR, SAMPLE_GAME, 2012},
                            {SITE_CLICK_DELAY, SAMPLE_PATCHED, 4}, {SITE_EXITGAME, SAMPLE_PATCHED}}}}},
    // Years and a relegated count written by the command-line tool outside
    // the fields' ranges show clamped; fields left showing that leave their
    // sites byte for byte: OK changes only the delay.
    {"outside-ranges",
     {{SITE_START_YEAR, SAMPLE_GAME, 2500}, {SITE_WC06_FIX, SAMPLE_PATCHED}, {SITE_BOSMAN_YEAR, SAMPLE_GAME, 5000},
      {SITE_CLICK_DELAY, SAMPLE_PATCHED, 3}, {SITE_EXITGAME, SAMPLE_PATCHED}, {SITE_CONF_COUNTS, SAMPLE_PATCHED, 3, 9},
      {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 3}},
     {{where::current(), OK,
       {.start_year = 2020, .bosman_year = 3000, .relegated = 7, .delay = 2},
       std::vector<site_is>{{SITE_CLICK_DELAY, SAMPLE_PATCHED, 2}}}}},
    // A year typed out of range is said, and the dialog stays open with
    // nothing written, the delay typed with it neither.
    {"typed-out-of-range", {},
     {{where::current(), TYPO,
       {.start_year = 1999, .delay = 4},
       {}, 0, &OUT_OF_RANGE}}},
    // Root writes through mode 0444, under Wine too: only chattr +i stops it.
    // The running game holds its exe. Another program grows the file, then
    // makes the Bosman year 2007 while the player changes only the start
    // year: OK would put the 2002 it shows back.
    {"write-obstacles", {},
     {{where::current(), IMMUTABLE, FULL, {}, 1, &WRITE_DENIED},
      {where::current(), HELD_OPEN, FULL, {}, 1, &WRITE_IN_USE},
      {where::current(), GROWN, FULL, {}, 1, &WRITE_CHANGED},
      {where::current(), CHANGED,
       {.bosman_year = 2002, .promoted = 1, .relegated = 3, .delay = 5, .wc06 = false, .exitgame = false}, {}, 1,
       &WRITE_CHANGED}}},
    // A virus scanner holds a copy a killed run left: it cannot go, so no
    // backup can be made, nothing is written, and the box says why.
    {"backup-held", {}, {{where::current(), HELD_BACKUP, FULL, {}, 1, &BACKUP_HELD}}},
    // Another user re-points the game's folder (a link) at one of theirs
    // between the scan and OK: nothing there is read into a backup, made,
    // removed or written, and the game's own file stays as it was.
    {"folder-re-pointed", {}, {{where::current(), RELINKED, FULL, {}, 1, &WRITE_CHANGED}}, "link"},
    // Before 2003 an installed World Cup fix stays, the game's code being unknown.
    {"wc06-kept", {{SITE_WC06_FIX, SAMPLE_PATCHED}},
     {{where::current(), OK,
       {.start_year = 2002},
       std::vector<site_is>{{SITE_START_YEAR, SAMPLE_GAME, 2002}, {SITE_BOSMAN_YEAR, SAMPLE_GAME, 2005},
                            {SITE_CLICK_DELAY, SAMPLE_PATCHED, 3}, {SITE_EXITGAME, SAMPLE_PATCHED},
                            {SITE_CONF_COUNTS, SAMPLE_PATCHED, 3, 2}, {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 3}},
       0, &WC06_KEPT}}},
    // Each run shows what the one before wrote, the range ends included:
    // 7/7/6 and 1/0/1. Then years and an installed delay left alone, an
    // unticked World Cup fix left installed, the conference taken out (its
    // counts still written) and put back with 1 and 3.
    {"patch-then-rescan", {},
     {{where::current(), OK,
       {.start_year = 2020, .bosman_year = 2999, .promoted = 7, .relegated = 7, .delay = 6},
       std::vector<site_is>{{SITE_START_YEAR, SAMPLE_GAME, 2020}, {SITE_WC06_FIX, SAMPLE_PATCHED},
                            {SITE_BOSMAN_YEAR, SAMPLE_GAME, 2999}, {SITE_CLICK_DELAY, SAMPLE_PATCHED, 6},
                            {SITE_EXITGAME, SAMPLE_PATCHED}, {SITE_CONF_COUNTS, SAMPLE_PATCHED, 7, 7},
                            {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 7}}},
      {where::current(), OK,
       {.start_year = 2002, .bosman_year = 2003, .promoted = 1, .relegated = 0, .delay = 1, .leave_years = true,
        .exitgame = false},
       std::vector<site_is>{{SITE_CLICK_DELAY, SAMPLE_PATCHED, 1}, {SITE_EXITGAME, SAMPLE_GAME},
                            {SITE_CONF_COUNTS, SAMPLE_PATCHED, 1, 0}, {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 1}}},
      {where::current(), OK,
       {.start_year = 2002, .bosman_year = 2001, .relegated = 3, .delay = 2, .wc06 = false, .keep_conference = true,
        .no_delay = true, .exitgame = false},
       std::vector<site_is>{{SITE_START_YEAR, SAMPLE_GAME, 2002}, {SITE_BOSMAN_YEAR, SAMPLE_GAME, 2001},
                            {SITE_CONF_COUNTS, SAMPLE_GAME, 3, 3}, {SITE_CONF_PROMOTED, SAMPLE_GAME, 3}}},
      {where::current(), OK,
       {.start_year = 2001, .bosman_year = 2001, .promoted = 1, .relegated = 3, .delay = 1, .wc06 = false,
        .leave_years = true, .exitgame = false},
       std::vector<site_is>{{SITE_CONF_COUNTS, SAMPLE_PATCHED, 1}, {SITE_CONF_PROMOTED, SAMPLE_PATCHED, 1}}}}},
};

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
        const choices &c = run.c;
        const int typed[] = {c.start_year, c.bosman_year, c.promoted, c.relegated, c.delay};
        const std::pair<int, bool> ticks[] = {{ID_WC06_CHECK, c.wc06},
                                              {ID_LEAVE_YEARS_CHECK, c.leave_years},
                                              {ID_KEEP_CONFERENCE_CHECK, c.keep_conference},
                                              {ID_NO_CLICK_DELAY_CHECK, c.no_delay},
                                              {ID_EXITGAME_CHECK, c.exitgame}};
        for (int k = 0; k < PAIR_COUNT && run.how != KEYS; ++k) {
            const auto [id, tick] = ticks[k];
            if (IsWindowEnabled(GetDlgItem(dlg, options_pairs[k].edit)))
                SetDlgItemTextA(dlg, options_pairs[k].edit, std::to_string(typed[k]).c_str());
            if (IsWindowEnabled(GetDlgItem(dlg, id)) && (IsDlgButtonChecked(dlg, id) == BST_CHECKED) != tick)
                SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
        }
        Sleep(500);
        expect(run.how != KEYS || (IsDlgButtonChecked(dlg, ID_WC06_CHECK) && IsDlgButtonChecked(dlg, ID_LEAVE_YEARS_CHECK)),
               "Space, Tab, Space should tick the World Cup box and the one under it");
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
            press(dlg, run.how == CANCEL || run.how == PLANTED ? ID_CANCEL : ID_OK);
    }
    if (run.box != nullptr)
        meet(*run.box, IDOK, dlg);
    // An OK that worked says what it did: the settings changed and the way
    // back, or that nothing could be written.
    if (run.how == OK && run.exit_code == 0) {
        HWND done = wait_window("Done");
        const std::string text = text_of(GetDlgItem(done, 0xFFFF));
        expect(run.after ? text.find(" -> ") != text.npos && text.find("restore") != text.npos
                                    : text.starts_with("No part of") || text.starts_with("Nothing was changed"),
               "Done box says \"" + text + "\"");
        expect(!IsWindowEnabled(dlg), "the dialog under the Done box takes input");
        press(done, IDOK);
    }
    if (run.how == TYPO)
        press(dlg, ID_CANCEL);
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
    if (run.after) {
        // Made from the path the chooser gave: a short 8.3 or mangled name would show here.
        expect(GetFileAttributesA((name + ".bak").c_str()) != INVALID_FILE_ATTRIBUTES, "no " + name + ".bak");
        *now = with(*now, *run.after);
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
        failures = 0;
        row_line = 0;
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
        now = with(now, sc.sample);
        // Laid out once: every later file keeps its sites where they are.
        expect(sample_layout(&now, &now) == 0 && sample_write(name.c_str(), &now) == 0, "no sample " + name);
        for (auto run = sc.runs.begin(); run != sc.runs.end() && failures == 0; ++run) {
            row_line = run->row.line();
            play(*run, sc.folder, name, &now);
        }
        (failures == 0 ? passed : failed) += 1;
        std::printf("  %s %s\n", failures == 0 ? "ok  " : "FAIL", sc.name);
    }
    std::printf("e2e: %d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
