#include "drive.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

int failures = 0;
bool host_enabled = true;

// A message to a window of another process must never hang the driver.
constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr int POLL_MS = 50;

struct find_args {
    DWORD pid;
    const char *title;
    HWND found;
    HWND except;
    std::string titles;
};

DWORD owner_pid(HWND w)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    return pid;
}

BOOL CALLBACK find_titled(HWND w, LPARAM lp)
{
    auto *a = reinterpret_cast<find_args *>(lp);
    if (owner_pid(w) != a->pid || !IsWindowVisible(w))
        return TRUE;
    char buf[256] = {};
    GetWindowTextA(w, buf, sizeof buf);
    if (std::string(buf) != a->title)
        return TRUE;
    a->found = w;
    return FALSE;
}

BOOL CALLBACK list_visible(HWND w, LPARAM lp)
{
    auto *a = reinterpret_cast<find_args *>(lp);
    if (w == a->except || owner_pid(w) != a->pid || !IsWindowVisible(w))
        return TRUE;
    char buf[256] = {};
    GetWindowTextA(w, buf, sizeof buf);
    if (!a->titles.empty())
        a->titles += " | ";
    a->titles += '"';
    a->titles += buf;
    a->titles += '"';
    return TRUE;
}

}  // namespace

void fail_at(int line, const char *fmt, ...)
{
    ++failures;
    std::printf("    FAIL (line %d): ", line);
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::printf("\n");
    std::fflush(stdout);
}

int failure_count()
{
    return failures;
}

void reset_failures()
{
    failures = 0;
}

void pause_ms(int ms)
{
    Sleep(static_cast<DWORD>(ms));
}

bool run_start(patcher_run *r, const char *exe, const char *folder)
{
    *r = patcher_run{};
    STARTUPINFOA si{};
    si.cb = sizeof si;
    // The scan's diagnostic lines would mix with the driver's report.
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA("patcher-stdout.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &sa, OPEN_ALWAYS, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nullptr;
        si.hStdOutput = out;
        si.hStdError = out;
    }
    std::string cmd = std::string("\"") + exe + "\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    BOOL ok = CreateProcessA(exe, line.data(), nullptr, nullptr, out != INVALID_HANDLE_VALUE, 0,
                             nullptr, folder, &si, &r->pi);
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    if (!ok)
        return false;
    r->started = true;
    return true;
}

bool run_wait_exit(patcher_run *r, int timeout_ms, DWORD *code)
{
    if (!r->started)
        return false;
    if (WaitForSingleObject(r->pi.hProcess, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(r->pi.hProcess, code);
    return true;
}

void run_finish(patcher_run *r)
{
    if (!r->started)
        return;
    if (WaitForSingleObject(r->pi.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(r->pi.hProcess, 99);
        WaitForSingleObject(r->pi.hProcess, 5000);
    }
    CloseHandle(r->pi.hThread);
    CloseHandle(r->pi.hProcess);
    r->started = false;
}

HWND wait_window(DWORD pid, const char *title, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += POLL_MS) {
        find_args a{pid, title, nullptr, nullptr, {}};
        EnumWindows(find_titled, reinterpret_cast<LPARAM>(&a));
        if (a.found != nullptr) {
            // Modal dialogs show themselves when their loop first goes idle;
            // give the first paint a moment before anyone looks at it.
            pause_ms(200);
            return a.found;
        }
        pause_ms(POLL_MS);
    }
    return nullptr;
}

bool wait_window_gone(HWND w, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += POLL_MS) {
        if (!IsWindow(w) || !IsWindowVisible(w))
            return true;
        pause_ms(POLL_MS);
    }
    return false;
}

std::string other_windows(DWORD pid, HWND except)
{
    find_args a{pid, nullptr, nullptr, except, {}};
    EnumWindows(list_visible, reinterpret_cast<LPARAM>(&a));
    return a.titles;
}

LRESULT send(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(w, msg, wp, lp, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &result))
        return -1;
    return static_cast<LRESULT>(result);
}

std::string window_text(HWND w)
{
    char buf[1024] = {};
    DWORD_PTR got = 0;
    if (w == nullptr ||
        !SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                             SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &got))
        return "<no text>";
    return std::string(buf, got < sizeof buf ? got : sizeof buf - 1);
}

std::string class_name(HWND w)
{
    char buf[128] = {};
    GetClassNameA(w, buf, sizeof buf);
    return buf;
}

LONG window_style(HWND w)
{
    return GetWindowLongA(w, GWL_STYLE);
}

std::string message_text(HWND box)
{
    return window_text(GetDlgItem(box, 0xFFFF));
}

bool has_button(HWND box, int id)
{
    HWND b = GetDlgItem(box, id);
    return b != nullptr && IsWindowVisible(b) && class_name(b) == "Button";
}

bool set_text(HWND control, const char *text)
{
    return send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) == TRUE;
}

bool click_check(HWND check)
{
    LRESULT before = send(check, BM_GETCHECK, 0, 0);
    send(check, BM_CLICK, 0, 0);
    return send(check, BM_GETCHECK, 0, 0) != before;
}

void press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void close_box(HWND dialog)
{
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void set_host_enabled(bool on)
{
    host_enabled = on;
}

int host_request(const char *line, std::string *reply)
{
    reply->clear();
    if (!host_enabled)
        return -2;
    DeleteFileA("host.ack");
    std::FILE *f = std::fopen("host.req.tmp", "wb");
    if (f == nullptr)
        return -2;
    std::fprintf(f, "%s\n", line);
    std::fclose(f);
    // The script polls for host.req: it must never see a half-written one.
    if (!MoveFileExA("host.req.tmp", "host.req", MOVEFILE_REPLACE_EXISTING))
        return -2;
    for (int waited = 0; waited < 30000; waited += POLL_MS) {
        f = std::fopen("host.ack", "rb");
        if (f != nullptr) {
            char buf[512] = {};
            size_t n = std::fread(buf, 1, sizeof buf - 1, f);
            std::fclose(f);
            // The script writes the answer and then renames it into place.
            DeleteFileA("host.ack");
            std::string s(buf, n);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
                s.pop_back();
            *reply = s;
            return s.rfind("ok", 0) == 0 ? 0 : -1;
        }
        pause_ms(POLL_MS);
    }
    DeleteFileA("host.req");
    return -2;
}

void screenshot(const char *name, HWND w)
{
    char line[256];
    RECT r{};
    if (w != nullptr && GetWindowRect(w, &r))
        std::snprintf(line, sizeof line, "shot %s %ld %ld %ld %ld", name, r.left, r.top,
                      r.right - r.left, r.bottom - r.top);
    else
        std::snprintf(line, sizeof line, "shot %s", name);
    std::string reply;
    int rc = host_request(line, &reply);
    if (rc == -2)
        std::printf("    (no screenshot %s: the driver runs without the e2e script)\n", name);
    else if (rc != 0)
        std::printf("    (screenshot %s failed: %s)\n", name, reply.c_str());
}
