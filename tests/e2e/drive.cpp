#include "drive.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

int failures = 0;

namespace {

constexpr int POLL_MS = 50;

struct pid_windows {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND w, LPARAM lp)
{
    auto *a = reinterpret_cast<pid_windows *>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == a->pid && IsWindowVisible(w))
        a->found.push_back(w);
    return TRUE;
}

std::vector<HWND> visible_windows(DWORD pid)
{
    pid_windows a{pid, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&a));
    return a.found;
}

} // namespace

void fail(where w, const char *fmt, ...)
{
    ++failures;
    std::printf("    FAIL (line %u): ", static_cast<unsigned>(w.line()));
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::printf("\n");
}

bool run_start(PROCESS_INFORMATION *pi, const char *exe, const char *folder)
{
    STARTUPINFOA si{};
    si.cb = sizeof si;
    // The scan's diagnostic lines would otherwise mix with the driver's report.
    si.dwFlags = STARTF_USESTDHANDLES;
    std::string cmd = std::string("\"") + exe + "\"";
    return CreateProcessA(exe, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &si, pi) != FALSE;
}

bool run_wait_exit(const PROCESS_INFORMATION &pi, int ms, DWORD *code)
{
    return WaitForSingleObject(pi.hProcess, static_cast<DWORD>(ms)) == WAIT_OBJECT_0
           && GetExitCodeProcess(pi.hProcess, code);
}

void run_finish(PROCESS_INFORMATION *pi)
{
    if (pi->hProcess == nullptr)
        return;
    if (WaitForSingleObject(pi->hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(pi->hProcess, 99);
        WaitForSingleObject(pi->hProcess, 5000);
    }
    CloseHandle(pi->hThread);
    CloseHandle(pi->hProcess);
    *pi = PROCESS_INFORMATION{};
}

HWND wait_window(DWORD pid, const char *title, int ms)
{
    for (int waited = 0; waited <= ms; waited += POLL_MS) {
        for (HWND w : visible_windows(pid))
            if (text_of(w) == title) {
                // A modal dialog shows itself when its loop first goes idle:
                // let it finish setting up before anyone looks.
                Sleep(200);
                return w;
            }
        Sleep(POLL_MS);
    }
    return nullptr;
}

bool wait_gone(HWND w, int ms)
{
    for (int waited = 0; waited <= ms; waited += POLL_MS) {
        if (!IsWindow(w) || !IsWindowVisible(w))
            return true;
        Sleep(POLL_MS);
    }
    return false;
}

std::string shown_titles(DWORD pid)
{
    std::string titles;
    for (HWND w : visible_windows(pid))
        titles += "\"" + text_of(w) + "\" ";
    return titles.empty() ? "nothing" : titles;
}

LRESULT send(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(w, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result))
        return -1;
    return static_cast<LRESULT>(result);
}

std::string text_of(HWND w)
{
    char buf[1024] = {};
    LRESULT n = send(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return n < 0 ? "<no text>" : std::string(buf);
}

void press(HWND dlg, int id)
{
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

bool host(const std::string &line)
{
    DeleteFileA("host.ack");
    std::FILE *f = std::fopen("host.req.tmp", "wb");
    if (f == nullptr)
        return false;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
    // The script polls for host.req: it must never see a half-written one.
    if (!MoveFileExA("host.req.tmp", "host.req", MOVEFILE_REPLACE_EXISTING))
        return false;
    for (int waited = 0; waited < 30000; waited += POLL_MS) {
        f = std::fopen("host.ack", "rb");
        if (f != nullptr) {
            char reply[8] = {};
            std::fread(reply, 1, 2, f);
            std::fclose(f);
            DeleteFileA("host.ack");
            return std::string(reply) == "ok";
        }
        Sleep(POLL_MS);
    }
    return false;
}
