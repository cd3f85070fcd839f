// End-to-end scenarios: the real zandor-patcher.exe, started and driven from
// this process as a player would drive it, each run on a fresh sample image.

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <source_location>
#include <string>
#include <vector>

#include "drive.h"
#include "patch/catalogue.h"
#include "tools/sample_image.h"

namespace {

using where = std::source_location;

constexpr int FIRST_WINDOW_MS = 30000;  // a cold Wine start can be slow
constexpr int WINDOW_MS = 15000;
constexpr int EXIT_MS = 15000;
constexpr int64_t SAMPLE_SIZE = 300000;  // several 64 KiB search windows

const char *const WELCOME = "Welcome";
const char *const CHOOSER = "Select your ZANDOR executable";
const char *const OPTIONS = "Velmar's ZANDOR patcher";
const char *const ERROR_CAPTION = "Error";

const char *patcher_exe = nullptr;
std::string work_dir;

// ---- what a sample holds and what the dialog should make of it ----

struct found_sites {
    bool start, wc06, bosman, click, exitgame, conf;
};

struct shown_values {
    int start_year, bosman_year, promoted, relegated, delay;
    bool wc06, exitgame;
};

bool recognised(const sample_site &s)
{
    return s.state == SAMPLE_GAME || s.state == SAMPLE_PATCHED;
}

found_sites expect_found(const sample_recipe &s)
{
    const sample_site *site = s.site;
    found_sites f{};
    f.start = recognised(site[SITE_START_YEAR]);
    f.wc06 = recognised(site[SITE_WC06_FIX]);
    f.bosman = recognised(site[SITE_BOSMAN_YEAR]);
    // Code we do not know is never written over, the click delay's included.
    f.click = recognised(site[SITE_CLICK_DELAY]);
    f.exitgame = recognised(site[SITE_EXITGAME]);
    const sample_site &counts = site[SITE_CONF_COUNTS];
    const sample_site &prom = site[SITE_CONF_PROMOTED];
    f.conf = recognised(counts) && recognised(prom);
    if (f.conf && prom.state == SAMPLE_PATCHED) {
        int c = counts.state == SAMPLE_PATCHED ? counts.param : -1;
        f.conf = c >= 1 && c <= 7 && c == prom.param;
    }
    return f;
}

int clamp(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

shown_values expect_shown(const sample_recipe &s)
{
    const sample_site *site = s.site;
    found_sites f = expect_found(s);
    shown_values v{};
    // An absent year stays 0, which the up-down clamps to its minimum.
    v.start_year = clamp(f.start ? site[SITE_START_YEAR].param : 0, 2001, 2020);
    v.bosman_year = clamp(f.bosman ? site[SITE_BOSMAN_YEAR].param : 0, 2001, 3000);
    // A patched conf_promoted block takes its count from conf_counts, even
    // when the two then disagree and the pair is dropped.
    const sample_site &counts = site[SITE_CONF_COUNTS];
    v.promoted = site[SITE_CONF_PROMOTED].state == SAMPLE_PATCHED &&
                         counts.state == SAMPLE_PATCHED && counts.param >= 1 && counts.param <= 7
                     ? counts.param
                     : 1;
    v.relegated = counts.state == SAMPLE_PATCHED ? counts.param2 : 3;
    const sample_site &d = site[SITE_CLICK_DELAY];
    v.delay = d.state == SAMPLE_PATCHED && d.param >= 1 && d.param <= 6 ? d.param : 5;
    v.wc06 = f.wc06 && site[SITE_WC06_FIX].state == SAMPLE_PATCHED;
    v.exitgame = f.exitgame && site[SITE_EXITGAME].state == SAMPLE_PATCHED;
    return v;
}

// What the player sets in the options dialog before OK.
struct choices {
    int start_year, bosman_year, promoted, relegated, delay;
    bool wc06, leave_years, dont_touch_conf, no_delay, exitgame;
};

using bytes = std::vector<uint8_t>;

int64_t site_offset(const sample_recipe &placed, int site)
{
    return placed.site[site].at + patch_catalogue[site].sig_len;
}

void put(bytes *img, int64_t at, const uint8_t *src, int32_t len)
{
    std::memcpy(img->data() + at, src, static_cast<size_t>(len));
}

void put_year(bytes *img, int64_t at, int year)
{
    (*img)[static_cast<size_t>(at)] = static_cast<uint8_t>(year & 0xff);
    (*img)[static_cast<size_t>(at) + 1] = static_cast<uint8_t>((year >> 8) & 0xff);
}

// The game's own block of a site: the catalogue's, completed for wc06_fix
// with the bytes the sample maker puts after the known part.
bytes game_block(int site)
{
    const site_entry &e = patch_catalogue[site];
    bytes block(e.unpatched, e.unpatched + e.unpatched_known);
    if (site == SITE_WC06_FIX)
        block.insert(block.end(), sample_wc06_tail(),
                     sample_wc06_tail() + (WC06_BLOCK_LEN - e.unpatched_known));
    return block;
}

// The file as the writer should leave it: `before` with the chosen values
// at the sites that the dialog enables.
bytes expect_written(const bytes &before, const sample_recipe &placed, const choices &c)
{
    bytes img = before;
    found_sites f = expect_found(placed);
    auto patched = [&](int site, int pos1, int v1, int pos2, int v2) {
        const site_entry &e = patch_catalogue[site];
        bytes block(e.patched, e.patched + e.block_len);
        if (pos1 >= 0)
            block[static_cast<size_t>(pos1)] = static_cast<uint8_t>(v1);
        if (pos2 >= 0)
            block[static_cast<size_t>(pos2)] = static_cast<uint8_t>(v2);
        put(&img, site_offset(placed, site), block.data(), e.block_len);
    };
    auto unpatched = [&](int site) {
        bytes block = game_block(site);
        put(&img, site_offset(placed, site), block.data(), static_cast<int32_t>(block.size()));
    };
    if (f.click && !c.no_delay) {
        if (c.delay >= 1 && c.delay <= 8)
            patched(SITE_CLICK_DELAY, CLICK_DELAY_PARAM_POS, c.delay, -1, 0);
        else
            unpatched(SITE_CLICK_DELAY);
    }
    if (f.bosman && !c.leave_years)
        put_year(&img, site_offset(placed, SITE_BOSMAN_YEAR), c.bosman_year);
    if (f.start && !c.leave_years) {
        put_year(&img, site_offset(placed, SITE_START_YEAR), c.start_year);
        if (f.wc06 && c.wc06) {
            if (c.start_year > 2002)
                patched(SITE_WC06_FIX, -1, 0, -1, 0);
            else
                unpatched(SITE_WC06_FIX);
        }
    }
    if (f.exitgame) {
        if (c.exitgame)
            patched(SITE_EXITGAME, -1, 0, -1, 0);
        else
            unpatched(SITE_EXITGAME);
    }
    if (f.conf) {
        if (!c.dont_touch_conf) {
            patched(SITE_CONF_PROMOTED, CONF_PROMOTED_PARAM_POS, c.promoted, -1, 0);
            patched(SITE_CONF_COUNTS, CONF_COUNTS_PROMOTED_POS, c.promoted,
                    CONF_COUNTS_RELEGATED_POS, c.relegated);
        } else {
            unpatched(SITE_CONF_PROMOTED);
            unpatched(SITE_CONF_COUNTS);
        }
    }
    return img;
}

// ---- files ----

std::string sample_path(const char *name)
{
    return work_dir + "\\" + name;
}

bool read_file(const std::string &path, bytes *out)
{
    out->clear();
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out->insert(out->end(), buf, buf + n);
    std::fclose(f);
    return true;
}

// Writes a fresh sample and returns its bytes and where its sites lie.
bool make_sample(const char *name, const sample_recipe &recipe, bytes *content, sample_recipe *placed,
                 where w = where::current())
{
    std::string path = sample_path(name);
    if (sample_layout(&recipe, placed) != 0 || sample_write(path.c_str(), &recipe) != 0 ||
        !read_file(path, content)) {
        fail_at(static_cast<int>(w.line()), "cannot make sample %s", path.c_str());
        return false;
    }
    return true;
}

sample_recipe game_recipe(uint32_t seed)
{
    sample_recipe s{};
    sample_defaults(&s, SAMPLE_SIZE);
    s.seed = seed;
    return s;
}

// Names the sites whose bytes differ, so a mismatch says where.
void expect_bytes(const std::string &path, const bytes &want, const sample_recipe &placed,
                  where w = where::current())
{
    int line = static_cast<int>(w.line());
    bytes got;
    if (!read_file(path, &got)) {
        fail_at(line, "cannot read %s back", path.c_str());
        return;
    }
    if (got.size() != want.size()) {
        fail_at(line, "file length %zu, expected %zu", got.size(), want.size());
        return;
    }
    for (int site = 0; site < SITE_COUNT; ++site) {
        int64_t at = site_offset(placed, site);
        int32_t len = patch_catalogue[site].block_len;
        if (placed.site[site].state == SAMPLE_ABSENT || at < 0)
            continue;
        if (std::memcmp(got.data() + at, want.data() + at, static_cast<size_t>(len)) != 0)
            fail_at(line, "site %s at %lld holds other bytes than expected",
                    patch_catalogue[site].name, static_cast<long long>(at));
    }
    if (got != want) {
        size_t i = 0;
        while (got[i] == want[i])
            ++i;
        fail_at(line, "first differing byte at offset %zu: %02X, expected %02X", i, got[i],
                want[i]);
    }
}

// ---- the windows of a run ----

void expect_exit(patcher_run *r, DWORD want, HWND last, where w = where::current())
{
    int line = static_cast<int>(w.line());
    DWORD code = 0;
    if (!run_wait_exit(r, EXIT_MS, &code)) {
        std::string shown = other_windows(r->pi.dwProcessId, last);
        fail_at(line, "the patcher did not exit; it shows: %s",
                shown.empty() ? "nothing" : shown.c_str());
        return;
    }
    if (code != want)
        fail_at(line, "exit code %ld, expected %ld", static_cast<long>(code),
                static_cast<long>(want));
}

// A message box keeps its icon control (stc1) even when it shows no icon.
void expect_icon(HWND box, bool want, where w = where::current())
{
    bool has = send(GetDlgItem(box, 0x440), STM_GETICON, 0, 0) != 0;
    if (has != want)
        fail_at(static_cast<int>(w.line()), "\"%s\" box %s an icon", window_text(box).c_str(),
                has ? "shows" : "lacks");
}

const char *const WELCOME_LINES[] = {
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

bool pass_welcome(patcher_run *r, bool shot)
{
    HWND box = wait_window(r->pi.dwProcessId, WELCOME, FIRST_WINDOW_MS);
    EXPECT(box != nullptr, "no \"%s\" box", WELCOME);
    if (box == nullptr)
        return false;
    std::string text = message_text(box);
    std::string head;
    for (const char *l : WELCOME_LINES)
        head += std::string(l) + "\n";
    EXPECT(text.rfind(head, 0) == 0, "welcome text begins otherwise: \"%s\"", text.c_str());
    size_t lines = 1;
    for (char ch : text)
        lines += ch == '\n';
    EXPECT(lines == 14, "welcome text has %zu lines, expected 14", lines);
    EXPECT(text.find('\r') == std::string::npos, "welcome text holds a carriage return");
    EXPECT(!text.empty() && text.back() != '\n', "welcome text ends in a line feed");
    EXPECT(has_button(box, IDOK) && !has_button(box, IDCANCEL),
           "welcome box should have an OK button only");
    expect_icon(box, false);
    if (shot)
        screenshot("welcome", box);
    press(box, IDOK);
    EXPECT(wait_window_gone(box, WINDOW_MS), "welcome box stays after OK");
    return true;
}

HWND wait_chooser(patcher_run *r, bool first = true)
{
    HWND dlg = wait_window(r->pi.dwProcessId, CHOOSER, WINDOW_MS);
    EXPECT(dlg != nullptr, "no \"%s\" dialog", CHOOSER);
    if (dlg == nullptr)
        return nullptr;
    HWND edit = GetDlgItem(dlg, 0x480);
    EXPECT(edit != nullptr && class_name(edit) == "Edit", "chooser has no file name edit 0x480");
    EXPECT(GetDlgItem(dlg, 0x460) != nullptr, "old-style chooser expected (no file list 0x460)");
    EXPECT(!first || window_text(GetDlgItem(dlg, 0x470)).rfind("Executables", 0) == 0,
           "file type shows \"%s\", expected the Executables filter",
           window_text(GetDlgItem(dlg, 0x470)).c_str());
    // The hook centres the chooser, halving screen and window separately.
    RECT rc{};
    GetWindowRect(dlg, &rc);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int sx = GetSystemMetrics(SM_CXSCREEN), sy = GetSystemMetrics(SM_CYSCREEN);
    int x = clamp(sx / 2 - w / 2, 0, sx - w), y = clamp(sy / 2 - h / 2, 0, sy - h);
    EXPECT(rc.left == x && rc.top == y, "chooser at %ld,%ld, expected centred at %d,%d", rc.left,
           rc.top, x, y);
    return dlg;
}

bool choose_file(patcher_run *r, const std::string &path, bool shot)
{
    HWND dlg = wait_chooser(r);
    if (dlg == nullptr)
        return false;
    EXPECT(set_text(GetDlgItem(dlg, 0x480), path.c_str()), "cannot type into the chooser");
    if (shot)
        screenshot("file-dialog", dlg);
    press(dlg, IDOK);
    EXPECT(wait_window_gone(dlg, WINDOW_MS), "chooser stays after OK");
    return true;
}

// ---- the options dialog ----

enum ctl_kind { GROUP, EDIT, UPDOWN, LABEL, CHECK, BUTTON };
enum ctl_rule { NEVER, START, WC06, BOSMAN, YEARS, CONF, CLICK, EXITGAME };

struct ctl_row {
    ctl_kind kind;
    int id;
    const char *text;
    ctl_rule disabled_unless;
};

constexpr int CONTROL_COUNT = 25;
const ctl_row CONTROLS[CONTROL_COUNT] = {
    {GROUP, 0xFFFF, "Years", NEVER},
    {EDIT, 103, nullptr, START},
    {UPDOWN, 102, "", START},
    {LABEL, 0xFFFF, "Game starts", START},
    {CHECK, 112, "World Cup 06 fix", WC06},
    {EDIT, 105, nullptr, BOSMAN},
    {UPDOWN, 104, "", BOSMAN},
    {LABEL, 0xFFFF, "Bosman ruling", BOSMAN},
    {CHECK, 113, "Leave years untouched", YEARS},
    {GROUP, 0xFFFF, "Conference league", NEVER},
    {EDIT, 107, nullptr, CONF},
    {UPDOWN, 106, "", CONF},
    {LABEL, 0xFFFF, "Nof promoted", CONF},
    {EDIT, 109, nullptr, CONF},
    {UPDOWN, 108, "", CONF},
    {LABEL, 0xFFFF, "Nof relegated", CONF},
    {CHECK, 114, "Don't touch conference", CONF},
    {GROUP, 0xFFFF, "Misc fixes", NEVER},
    {EDIT, 111, nullptr, CLICK},
    {UPDOWN, 110, "", CLICK},
    {LABEL, 0xFFFF, "Click repeat delay", CLICK},
    {CHECK, 115, "Don't install click delay", CLICK},
    {CHECK, 116, "Close window exits game", EXITGAME},
    {BUTTON, 100, "OK", NEVER},
    {BUTTON, 101, "Cancel", NEVER},
};

bool enabled_by(ctl_rule rule, const found_sites &f)
{
    switch (rule) {
    case NEVER: return true;
    case START: return f.start;
    case WC06: return f.start && f.wc06;
    case BOSMAN: return f.bosman;
    case YEARS: return f.start || f.bosman;
    case CONF: return f.conf;
    case CLICK: return f.click;
    case EXITGAME: return f.exitgame;
    }
    return false;
}

const char *kind_class(ctl_kind k)
{
    switch (k) {
    case GROUP:
    case CHECK:
    case BUTTON: return "Button";
    case EDIT: return "Edit";
    case UPDOWN: return "msctls_updown32";
    case LABEL: return "Static";
    }
    return "";
}

bool style_fits(ctl_kind k, LONG s)
{
    if ((s & WS_CHILD) == 0 || (s & WS_VISIBLE) == 0)
        return false;
    switch (k) {
    case GROUP: return (s & 0xF) == BS_GROUPBOX;
    case CHECK: return (s & 0xF) == BS_AUTOCHECKBOX && (s & WS_TABSTOP) != 0;
    // The dialog manager may make a focused push button the default one.
    case BUTTON: return (s & 0xF) == BS_PUSHBUTTON || (s & 0xF) == BS_DEFPUSHBUTTON;
    case EDIT: return (s & ES_NUMBER) != 0;
    case UPDOWN:
        return (s & (UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_NOTHOUSANDS)) ==
               (UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_NOTHOUSANDS);
    case LABEL: return (s & 0x1F) == SS_LEFT;
    }
    return false;
}

int edit_value(const shown_values &v, int id)
{
    switch (id) {
    case 103: return v.start_year;
    case 105: return v.bosman_year;
    case 107: return v.promoted;
    case 109: return v.relegated;
    case 111: return v.delay;
    }
    return -1;
}

HWND wait_options(patcher_run *r)
{
    HWND dlg = wait_window(r->pi.dwProcessId, OPTIONS, WINDOW_MS);
    if (dlg == nullptr) {
        std::string shown = other_windows(r->pi.dwProcessId, nullptr);
        fail_at(__LINE__, "no \"%s\" dialog; shown instead: %s", OPTIONS,
                shown.empty() ? "nothing" : shown.c_str());
    }
    return dlg;
}

// Every control in creation order: kind, id, text, style, enabled state,
// and the values and check states that WM_INITDIALOG put there.
void expect_options(HWND dlg, const found_sites &f, const shown_values &v,
                    where w = where::current())
{
    int line = static_cast<int>(w.line());
    std::vector<HWND> kids;
    for (HWND c = GetWindow(dlg, GW_CHILD); c != nullptr && kids.size() < 64;
         c = GetWindow(c, GW_HWNDNEXT))
        kids.push_back(c);
    if (kids.size() != CONTROL_COUNT) {
        fail_at(line, "options dialog has %zu controls, expected %d", kids.size(), CONTROL_COUNT);
        return;
    }
    for (int i = 0; i < CONTROL_COUNT; ++i) {
        const ctl_row &row = CONTROLS[i];
        HWND c = kids[static_cast<size_t>(i)];
        int id = GetDlgCtrlID(c) & 0xFFFF;
        std::string cls = class_name(c);
        std::string text = window_text(c);
        std::string want_text = row.text != nullptr ? row.text
                                                    : std::to_string(edit_value(v, row.id));
        bool want_enabled = enabled_by(row.disabled_unless, f);
        if (id != row.id)
            fail_at(line, "control #%d has id %d, expected %d", i + 1, id, row.id);
        if (lstrcmpiA(cls.c_str(), kind_class(row.kind)) != 0)
            fail_at(line, "control %d (#%d) is a %s, expected %s", row.id, i + 1, cls.c_str(),
                    kind_class(row.kind));
        if (!style_fits(row.kind, window_style(c)))
            fail_at(line, "control %d (#%d) has style %08lX", row.id, i + 1,
                    static_cast<unsigned long>(window_style(c)));
        if (text != want_text)
            fail_at(line, "control %d (#%d) shows \"%s\", expected \"%s\"", row.id, i + 1,
                    text.c_str(), want_text.c_str());
        if ((IsWindowEnabled(c) != FALSE) != want_enabled)
            fail_at(line, "control %d (#%d, \"%s\") is %s, expected %s", row.id, i + 1,
                    text.c_str(), want_enabled ? "disabled" : "enabled",
                    want_enabled ? "enabled" : "disabled");
        if (row.kind == UPDOWN) {
            HWND edit = kids[static_cast<size_t>(i - 1)];
            if (reinterpret_cast<HWND>(send(c, UDM_GETBUDDY, 0, 0)) != edit)
                fail_at(line, "up-down %d is not the buddy of edit %d", row.id, row.id + 1);
            LRESULT pos = send(c, UDM_GETPOS, 0, 0);
            int want = edit_value(v, row.id + 1);
            if ((pos & 0xFFFF) != want || (pos >> 16) != 0)
                fail_at(line, "up-down %d gives %ld/%ld, expected %d/0", row.id,
                        static_cast<long>(pos & 0xFFFF), static_cast<long>(pos >> 16), want);
        }
    }
    auto check_state = [&](int id, bool want) {
        LRESULT got = send(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0);
        if (got != (want ? BST_CHECKED : BST_UNCHECKED))
            fail_at(line, "check box %d state %ld, expected %d", id, static_cast<long>(got),
                    want ? 1 : 0);
    };
    check_state(112, v.wc06);
    check_state(113, false);
    check_state(114, false);
    check_state(115, false);
    check_state(116, v.exitgame);
}

// Sets the dialog to `c` as a player would: typing into the edit fields
// and clicking the check boxes whose state differs.
void fill_options(HWND dlg, const choices &c, where w = where::current())
{
    int line = static_cast<int>(w.line());
    const struct {
        int id, value;
    } edits[] = {{103, c.start_year},
                 {105, c.bosman_year},
                 {107, c.promoted},
                 {109, c.relegated},
                 {111, c.delay}};
    for (const auto &e : edits) {
        HWND edit = GetDlgItem(dlg, e.id);
        if (!IsWindowEnabled(edit))
            continue;
        if (!set_text(edit, std::to_string(e.value).c_str()))
            fail_at(line, "cannot type into edit %d", e.id);
    }
    const struct {
        int id;
        bool on;
    } checks[] = {{112, c.wc06},
                  {113, c.leave_years},
                  {114, c.dont_touch_conf},
                  {115, c.no_delay},
                  {116, c.exitgame}};
    for (const auto &k : checks) {
        HWND box = GetDlgItem(dlg, k.id);
        if (!IsWindowEnabled(box))
            continue;
        bool on = send(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (on != k.on && !click_check(box))
            fail_at(line, "clicking check box %d did not change it", k.id);
    }
}

// Welcome, chooser with `path` typed in, then the options dialog.
HWND open_options(patcher_run *r, const std::string &path, bool shots = false)
{
    if (!run_start(r, patcher_exe, work_dir.c_str())) {
        fail_at(__LINE__, "cannot start %s (error %lu)", patcher_exe, GetLastError());
        return nullptr;
    }
    if (!pass_welcome(r, shots) || !choose_file(r, path, shots))
        return nullptr;
    return wait_options(r);
}

// ---- scenarios ----

const choices FULL_CHOICES = {2010, 2005, 3, 2, 3, true, false, false, false, true};

void full_run()
{
    sample_recipe recipe = game_recipe(11), placed;
    bytes before;
    if (!make_sample("full.exe", recipe, &before, &placed))
        return;
    patcher_run r;
    HWND dlg = open_options(&r, sample_path("full.exe"), true);
    if (dlg != nullptr) {
        expect_options(dlg, expect_found(recipe), expect_shown(recipe));
        fill_options(dlg, FULL_CHOICES);
        screenshot("options-dialog", dlg);
        press(dlg, 100);
        expect_exit(&r, 0, dlg);
        expect_bytes(sample_path("full.exe"),
                     expect_written(before, placed, FULL_CHOICES), placed);
    }
    run_finish(&r);
}

// Cancel and the close box write nothing, whatever was changed; the
// standard IDOK and IDCANCEL commands (Enter, Escape) do not end it.
void cancel_and_close()
{
    sample_recipe recipe = game_recipe(12), placed;
    recipe.site[SITE_CLICK_DELAY].state = SAMPLE_PATCHED;
    recipe.site[SITE_CLICK_DELAY].param = 2;
    recipe.site[SITE_EXITGAME].state = SAMPLE_PATCHED;
    bytes before;
    if (!make_sample("cancel.exe", recipe, &before, &placed))
        return;
    for (int how = 0; how < 2; ++how) {
        patcher_run r;
        HWND dlg = open_options(&r, sample_path("cancel.exe"));
        if (dlg != nullptr) {
            expect_options(dlg, expect_found(recipe), expect_shown(recipe));
            fill_options(dlg, FULL_CHOICES);
            press(dlg, IDOK);
            press(dlg, IDCANCEL);
            pause_ms(500);
            EXPECT(IsWindowVisible(dlg), "the options dialog ended on IDOK or IDCANCEL");
            if (how == 0)
                press(dlg, 101);
            else
                close_box(dlg);
            expect_exit(&r, 0, dlg);
            expect_bytes(sample_path("cancel.exe"), before, placed);
        }
        run_finish(&r);
    }
}

// Each cancelled chooser leads to the retry box; Retry opens the chooser
// again, Cancel ends the run quietly.
void chooser_cancelled()
{
    patcher_run r;
    if (!run_start(&r, patcher_exe, work_dir.c_str())) {
        fail_at(__LINE__, "cannot start %s", patcher_exe);
        return;
    }
    HWND box = nullptr;
    if (pass_welcome(&r, false)) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            HWND dlg = wait_chooser(&r, attempt == 0);
            if (dlg == nullptr)
                break;
            HWND types = GetDlgItem(dlg, 0x470);
            if (attempt == 0) {
                // The retried chooser keeps the record as this one leaves it.
                send(types, CB_SETCURSEL, 1, 0);
                send(dlg, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(types));
            } else {
                EXPECT(window_text(types).rfind("All", 0) == 0,
                       "the retried chooser shows the type \"%s\", expected All",
                       window_text(types).c_str());
            }
            press(dlg, IDCANCEL);
            box = wait_window(r.pi.dwProcessId, ERROR_CAPTION, WINDOW_MS);
            EXPECT(box != nullptr, "no retry box after cancelling the chooser");
            if (box == nullptr)
                break;
            std::string text = message_text(box);
            EXPECT(text == "Error opening file ", "retry box says \"%s\"", text.c_str());
            EXPECT(has_button(box, IDRETRY) && has_button(box, IDCANCEL) && !has_button(box, IDOK),
                   "retry box should have Retry and Cancel only");
            expect_icon(box, true);
            press(box, attempt == 0 ? IDRETRY : IDCANCEL);
        }
        if (box != nullptr)
            expect_exit(&r, 0, box);
    }
    run_finish(&r);
}

// A typed name that is no file: the old-style chooser accepts it, and the
// open fails.
void missing_file()
{
    patcher_run r;
    if (!run_start(&r, patcher_exe, work_dir.c_str())) {
        fail_at(__LINE__, "cannot start %s", patcher_exe);
        return;
    }
    if (pass_welcome(&r, false) && choose_file(&r, sample_path("no-such-file.exe"), false)) {
        HWND box = wait_window(r.pi.dwProcessId, ERROR_CAPTION, WINDOW_MS);
        EXPECT(box != nullptr, "no error box for a file that does not exist");
        if (box != nullptr) {
            EXPECT(message_text(box) == "Error opening file", "error box says \"%s\"",
                   message_text(box).c_str());
            expect_icon(box, true);
            press(box, IDOK);
            expect_exit(&r, static_cast<DWORD>(-1), box);
        }
    }
    run_finish(&r);
}

struct partial_case {
    const char *name;
    sample_state state[SITE_COUNT];  // in the order of site_id
    bool press_ok;
};

const partial_case PARTIAL_CASES[] = {
    {"nothing found",
     {SAMPLE_ABSENT, SAMPLE_ABSENT, SAMPLE_ABSENT, SAMPLE_ABSENT, SAMPLE_ABSENT, SAMPLE_ABSENT,
      SAMPLE_ABSENT},
     false},
    // Start year without the World Cup block; one conference block alone
    // is no use; a delay of 9 takes the installed delay out again.
    {"start year, click delay, one conference block",
     {SAMPLE_GAME, SAMPLE_ABSENT, SAMPLE_ABSENT, SAMPLE_PATCHED, SAMPLE_ABSENT, SAMPLE_GAME,
      SAMPLE_ABSENT},
     true},
    // The World Cup block without its start year; Bosman year alone still
    // enables "Leave years untouched"; code we do not know stays disabled.
    {"Bosman year, World Cup block, patched conference, odd blocks",
     {SAMPLE_DUPLICATED, SAMPLE_GAME, SAMPLE_GAME, SAMPLE_UNRECOGNISED, SAMPLE_UNRECOGNISED,
      SAMPLE_PATCHED, SAMPLE_PATCHED},
     true},
    {"conference blocks that disagree",
     {SAMPLE_GAME, SAMPLE_PATCHED, SAMPLE_GAME, SAMPLE_PATCHED, SAMPLE_GAME, SAMPLE_PATCHED,
      SAMPLE_PATCHED},
     false},
};

void partial_sites()
{
    int n = 0;
    for (const partial_case &pc : PARTIAL_CASES) {
        std::printf("  -- %s\n", pc.name);
        sample_recipe recipe = game_recipe(20 + static_cast<uint32_t>(n)), placed;
        for (int s = 0; s < SITE_COUNT; ++s) {
            recipe.site[s].state = pc.state[s];
            recipe.site[s].first_byte = 0x90;
        }
        recipe.site[SITE_CONF_COUNTS].param = 4;
        recipe.site[SITE_CONF_COUNTS].param2 = 2;
        recipe.site[SITE_CONF_PROMOTED].param = n == 3 ? 5 : 4;
        recipe.site[SITE_CLICK_DELAY].param = 6;
        char name[32];
        std::snprintf(name, sizeof name, "partial%d.exe", n++);
        bytes before;
        if (!make_sample(name, recipe, &before, &placed))
            continue;
        patcher_run r;
        HWND dlg = open_options(&r, sample_path(name));
        if (dlg != nullptr) {
            expect_options(dlg, expect_found(recipe), expect_shown(recipe));
            choices c = {2004, 2012, 6, 1, 9, true, false, false, false, true};
            if (pc.press_ok)
                fill_options(dlg, c);
            press(dlg, pc.press_ok ? 100 : 101);
            expect_exit(&r, 0, dlg);
            // Only the sites the dialog enabled may change.
            expect_bytes(sample_path(name), pc.press_ok ? expect_written(before, placed, c)
                                                        : before,
                         placed);
        }
        run_finish(&r);
    }
}

// The write fails: the player is told, the file is untouched, exit code 1.
void expect_write_refused(const char *name, const bytes &before, const sample_recipe &placed,
                          where w = where::current())
{
    int line = static_cast<int>(w.line());
    patcher_run r;
    HWND dlg = open_options(&r, sample_path(name));
    if (dlg != nullptr) {
        fill_options(dlg, FULL_CHOICES);
        press(dlg, 100);
        HWND box = wait_window(r.pi.dwProcessId, ERROR_CAPTION, WINDOW_MS);
        if (box == nullptr) {
            fail_at(line, "no error box when the file cannot be written");
        } else {
            std::string text = message_text(box);
            if (text.rfind("Error writing file", 0) != 0)
                fail_at(line, "error box says \"%s\"", text.c_str());
            press(box, has_button(box, IDOK) ? IDOK : IDCANCEL);
        }
        expect_exit(&r, 1, box, w);
        expect_bytes(sample_path(name), before, placed, w);
    }
    run_finish(&r);
}

void unwritable_file()
{
    sample_recipe recipe = game_recipe(31), placed;
    bytes before;
    if (!make_sample("immutable.exe", recipe, &before, &placed))
        return;
    // Root writes through mode 0444, under Wine too: only the immutable
    // attribute, set from outside Wine, stops it.
    std::string reply;
    int rc = host_request("immutable immutable.exe on", &reply);
    if (rc != 0) {
        std::printf("  SKIP immutable file: cannot make the sample immutable (%s)\n",
                    rc == -2 ? "no e2e script to ask" : reply.c_str());
    } else {
        expect_write_refused("immutable.exe", before, placed);
        EXPECT(host_request("immutable immutable.exe off", &reply) == 0,
               "cannot make the sample writable again: %s", reply.c_str());
    }

    // Another program holding the file without sharing write access.
    if (!make_sample("locked.exe", recipe, &before, &placed))
        return;
    HANDLE h = CreateFileA(sample_path("locked.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT(h != INVALID_HANDLE_VALUE, "cannot hold locked.exe open");
    if (h != INVALID_HANDLE_VALUE) {
        expect_write_refused("locked.exe", before, placed);
        CloseHandle(h);
    }
}

// Another program changes the file while the dialog is open: nothing is
// written over what it left, and the player is told.
void changed_file()
{
    for (int how = 0; how < 2; ++how) {
        sample_recipe recipe = game_recipe(61 + static_cast<uint32_t>(how)), placed;
        bytes before;
        if (!make_sample("changed.exe", recipe, &before, &placed))
            return;
        const std::string path = sample_path("changed.exe");
        patcher_run r;
        HWND dlg = open_options(&r, path);
        if (dlg != nullptr) {
            fill_options(dlg, FULL_CHOICES);
            std::FILE *f = std::fopen(path.c_str(), how == 0 ? "ab" : "r+b");
            EXPECT(f != nullptr, "cannot change %s beside the patcher", path.c_str());
            if (f != nullptr) {
                if (how == 0) {
                    // Grown by another program.
                    const uint8_t tail[16] = {0xde, 0xad, 0xbe, 0xef};
                    std::fwrite(tail, 1, sizeof tail, f);
                    before.insert(before.end(), tail, tail + sizeof tail);
                } else {
                    // The exit block overwritten with code we do not know.
                    int64_t at = site_offset(placed, SITE_EXITGAME);
                    std::fseek(f, static_cast<long>(at), SEEK_SET);
                    std::fputc(0x90, f);
                    before[static_cast<size_t>(at)] = 0x90;
                }
                std::fclose(f);
            }
            press(dlg, 100);
            HWND box = wait_window(r.pi.dwProcessId, ERROR_CAPTION, WINDOW_MS);
            EXPECT(box != nullptr && message_text(box).rfind("Error writing file", 0) == 0,
                   "no \"Error writing file\" box for a file changed under the dialog");
            if (box != nullptr)
                press(box, IDOK);
            expect_exit(&r, 1, box);
            bytes got;
            EXPECT(read_file(path, &got) && got == before,
                   "the patcher wrote into a file that changed after the scan");
        }
        run_finish(&r);
    }
}

// The game's own World Cup code is not known, so an installed fix cannot
// be taken out: the player is warned and everything else is written.
void wc06_kept()
{
    sample_recipe recipe = game_recipe(71), placed;
    recipe.site[SITE_WC06_FIX].state = SAMPLE_PATCHED;
    bytes before;
    if (!make_sample("wc06.exe", recipe, &before, &placed))
        return;
    choices c = FULL_CHOICES;
    c.start_year = 2002;
    patcher_run r;
    HWND dlg = open_options(&r, sample_path("wc06.exe"));
    if (dlg != nullptr) {
        expect_options(dlg, expect_found(recipe), expect_shown(recipe));
        fill_options(dlg, c);
        press(dlg, 100);
        HWND box = wait_window(r.pi.dwProcessId, "Warning", WINDOW_MS);
        EXPECT(box != nullptr && message_text(box).find("World Cup 06") != std::string::npos,
               "no warning that the World Cup 06 fix stays");
        if (box != nullptr)
            press(box, IDOK);
        expect_exit(&r, 0, box);
        c.wc06 = false;  // what is written: everything but that block
        expect_bytes(sample_path("wc06.exe"), expect_written(before, placed, c), placed);
    }
    run_finish(&r);
}

// A second run shows what the first wrote; its own choices then remove the
// fixes again and leave the rest.
void patch_then_rescan()
{
    sample_recipe recipe = game_recipe(41), placed;
    bytes game;
    if (!make_sample("rescan.exe", recipe, &game, &placed))
        return;
    const std::string path = sample_path("rescan.exe");
    const choices first = {2020, 2999, 7, 0, 6, true, false, false, false, true};
    patcher_run r;
    HWND dlg = open_options(&r, path);
    if (dlg != nullptr) {
        fill_options(dlg, first);
        press(dlg, 100);
        expect_exit(&r, 0, dlg);
    }
    run_finish(&r);
    bytes patched = expect_written(game, placed, first);
    expect_bytes(path, patched, placed);
    if (failure_count() != 0)
        return;

    sample_recipe now = recipe;
    now.site[SITE_START_YEAR].param = first.start_year;
    now.site[SITE_BOSMAN_YEAR].param = first.bosman_year;
    for (int s : {SITE_WC06_FIX, SITE_CLICK_DELAY, SITE_EXITGAME, SITE_CONF_COUNTS,
                  SITE_CONF_PROMOTED})
        now.site[s].state = SAMPLE_PATCHED;
    now.site[SITE_CLICK_DELAY].param = first.delay;
    now.site[SITE_CONF_COUNTS].param = first.promoted;
    now.site[SITE_CONF_COUNTS].param2 = first.relegated;
    now.site[SITE_CONF_PROMOTED].param = first.promoted;
    dlg = open_options(&r, path);
    if (dlg != nullptr) {
        expect_options(dlg, expect_found(now), expect_shown(now));
        // Years left alone (a start year of 2002 would take the World Cup
        // fix out), click delay left installed, the conference and exit
        // fixes taken out.
        const choices second = {2002, 2003, 2, 2, 2, true, true, true, true, false};
        fill_options(dlg, second);
        press(dlg, 100);
        expect_exit(&r, 0, dlg);
        patched = expect_written(patched, placed, second);
        expect_bytes(path, patched, placed);
    }
    run_finish(&r);
    if (failure_count() != 0)
        return;

    now.site[SITE_EXITGAME].state = SAMPLE_GAME;
    now.site[SITE_CONF_COUNTS].state = SAMPLE_GAME;
    now.site[SITE_CONF_PROMOTED].state = SAMPLE_GAME;
    dlg = open_options(&r, path);
    if (dlg != nullptr) {
        expect_options(dlg, expect_found(now), expect_shown(now));
        // An unticked World Cup fix stays installed whatever the year; the
        // patched conference blocks with 1 and 3 are written as chosen.
        const choices third = {2002, 2001, 1, 3, 1, false, false, false, false, false};
        fill_options(dlg, third);
        press(dlg, 100);
        expect_exit(&r, 0, dlg);
        expect_bytes(path, expect_written(patched, placed, third), placed);
    }
    run_finish(&r);
}

// Real key presses through the X server (sent by the e2e script), so that
// focus, Tab order and the dialog manager's own keys take part.
bool keys(const char *what, where w = where::current())
{
    std::string reply;
    int rc = host_request((std::string("keys ") + what).c_str(), &reply);
    if (rc != 0)
        fail_at(static_cast<int>(w.line()), "cannot send keys %s: %s", what, reply.c_str());
    return rc == 0;
}

void keyboard()
{
    std::string reply;
    if (host_request("ping", &reply) == -2) {
        std::printf("  SKIP keyboard: no e2e script to send X key presses\n");
        return;
    }
    sample_recipe recipe = game_recipe(51), placed;
    bytes before;
    if (!make_sample("keys.exe", recipe, &before, &placed))
        return;
    patcher_run r;
    if (!run_start(&r, patcher_exe, work_dir.c_str())) {
        fail_at(__LINE__, "cannot start %s", patcher_exe);
        return;
    }
    HWND box = wait_window(r.pi.dwProcessId, WELCOME, FIRST_WINDOW_MS);
    EXPECT(box != nullptr, "no \"%s\" box", WELCOME);
    if (box != nullptr && keys("Return")) {
        EXPECT(wait_window_gone(box, WINDOW_MS), "Enter does not close the welcome box");
        // The chooser opens in the patcher's current folder.
        HWND chooser = wait_chooser(&r);
        if (chooser != nullptr && keys("type keys.exe") && keys("Return")) {
            HWND dlg = wait_options(&r);
            if (dlg != nullptr) {
                HWND wc06 = GetDlgItem(dlg, 112), years = GetDlgItem(dlg, 113);
                // Enter and Escape are no way out of the options dialog.
                keys("Escape");
                keys("Return");
                pause_ms(500);
                EXPECT(IsWindowVisible(dlg), "Enter or Escape ended the options dialog");
                // Only the check boxes are tab stops: Tab goes from the first
                // to the second, Space ticks the focused one.
                keys("space");
                keys("Tab");
                keys("space");
                pause_ms(300);
                EXPECT(send(wc06, BM_GETCHECK, 0, 0) == BST_CHECKED,
                       "Space did not tick \"World Cup 06 fix\" (foreground: \"%s\")",
                       window_text(GetForegroundWindow()).c_str());
                EXPECT(send(years, BM_GETCHECK, 0, 0) == BST_CHECKED,
                       "Tab, Space did not tick \"Leave years untouched\"");
                keys("alt+F4");
                expect_exit(&r, 0, dlg);
                expect_bytes(sample_path("keys.exe"), before, placed);
            }
        }
    }
    run_finish(&r);
}

struct scenario {
    const char *name;
    void (*run)();
};

const scenario SCENARIOS[] = {
    {"full-run", full_run},
    {"cancel-and-close", cancel_and_close},
    {"chooser-cancelled", chooser_cancelled},
    {"missing-file", missing_file},
    {"partial-sites", partial_sites},
    {"unwritable-file", unwritable_file},
    {"changed-file", changed_file},
    {"wc06-kept", wc06_kept},
    {"patch-then-rescan", patch_then_rescan},
    {"keyboard", keyboard},
};

int usage()
{
    std::printf("usage: zandor-e2e-driver PATCHER.EXE [--no-host] [SCENARIO...]\n"
                "Runs in the folder where it may write samples; scenarios:");
    for (const scenario &s : SCENARIOS)
        std::printf(" %s", s.name);
    std::printf("\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2)
        return usage();
    patcher_exe = argv[1];
    std::vector<const char *> wanted;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-host") == 0)
            set_host_enabled(false);
        else
            wanted.push_back(argv[i]);
    }
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    work_dir = cwd;
    if (GetFileAttributesA(patcher_exe) == INVALID_FILE_ATTRIBUTES) {
        std::printf("e2e: no patcher at %s\n", patcher_exe);
        return 2;
    }
    for (const char *w : wanted) {
        bool known = false;
        for (const scenario &s : SCENARIOS)
            known = known || std::strcmp(s.name, w) == 0;
        if (!known)
            return usage();
    }

    int passed = 0, failed = 0;
    for (const scenario &s : SCENARIOS) {
        bool chosen = wanted.empty();
        for (const char *w : wanted)
            chosen = chosen || std::strcmp(s.name, w) == 0;
        if (!chosen)
            continue;
        std::printf("e2e: %s\n", s.name);
        reset_failures();
        DWORD t0 = GetTickCount();
        s.run();
        double secs = (GetTickCount() - t0) / 1000.0;
        if (failure_count() == 0) {
            ++passed;
            std::printf("  ok   %s (%.1f s)\n", s.name, secs);
        } else {
            ++failed;
            std::printf("  FAIL %s (%d problems, %.1f s)\n", s.name, failure_count(), secs);
        }
    }
    std::printf("e2e: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
