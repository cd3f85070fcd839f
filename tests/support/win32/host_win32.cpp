#include "host_ui.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

// A DLL of the system's, by its file name.
struct HINSTANCE__ {
    const char *name;
};

host_ui host;

namespace {

constexpr int FIRST_ID = 100;

HWND__ dialog_window{}, chooser_window{};

// A message the system documents as taking zero there; the test dies loudly.
void must_be_zero(WPARAM v)
{
    if (v != 0)
        std::abort();
}

HINSTANCE__ kernel32{"kernel32.dll"}, comctl32{"comctl32.dll"}, comdlg32{"comdlg32.dll"}, other_dll{""};

std::string narrow(const wchar_t *text)
{
    return std::string(text, text + std::char_traits<wchar_t>::length(text));  // ASCII, as the tests' paths are
}

BOOL WINAPI SetDefaultDllDirectories(DWORD flags)
{
    host.dll_calls.push_back("default " + std::to_string(flags));
    return !host.default_dirs_fail;
}

} // namespace

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    host.boxes.push_back(host_box{caption, type, text});
    return host.next_answer < host.box_answers.size() ? host.box_answers[host.next_answer++] : IDOK;
}

BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA *ofn)
{
    host.choosers.push_back(*ofn);
    if ((ofn->Flags & OFN_ENABLEHOOK) != 0)  // the system calls the hook only then
        ofn->lpfnHook(&chooser_window, WM_INITDIALOG, 0, 0);
    const char *file = host.next_file < host.files.size() ? host.files[host.next_file++] : nullptr;
    if (file != nullptr)
        std::strncpy(ofn->lpstrFile, file, ofn->nMaxFile - 1);
    return file != nullptr;
}

BOOL WINAPI GetWindowRect(HWND, RECT *rect)
{
    // The first chooser narrower and taller than the screen, later ones smaller.
    *rect = host.moves.empty() ? RECT{0, 0, 301, 900} : RECT{40, 30, 341, 231};
    return TRUE;
}

// The screen the tests assume.
int WINAPI GetSystemMetrics(int index)
{
    return index == SM_CXSCREEN ? 1024 : 768;
}

BOOL WINAPI MoveWindow(HWND, int x, int y, int width, int height, BOOL)
{
    host.moves.push_back(RECT{x, y, x + width, y + height});
    return TRUE;
}

HGLOBAL WINAPI GlobalAlloc(UINT, size_t bytes)
{
    return host.alloc_fails ? nullptr : std::calloc(1, bytes);
}

void *WINAPI GlobalLock(HGLOBAL mem)
{
    return mem;
}

BOOL WINAPI GlobalUnlock(HGLOBAL)
{
    return TRUE;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem)
{
    std::free(mem);
    return nullptr;
}

// The ANSI text of the tests is ASCII. Like the system, writes nothing and
// returns 0 when the text and its terminator do not fit.
int WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR src, int, LPWSTR dst, int dst_cap)
{
    int units = static_cast<int>(std::strlen(src)) + 1;
    if (units > dst_cap)
        return 0;
    for (int i = 0; i < units; ++i)
        dst[i] = static_cast<char16_t>(static_cast<unsigned char>(src[i]));
    return units;
}

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE, LPCDLGTEMPLATEA, HWND, DLGPROC proc, LPARAM)
{
    if (host.create_fails)
        return -1;
    std::ranges::fill(host.controls, HWND__{});
    proc(&dialog_window, WM_INITDIALOG, 0, 0);
    if (host.meddle != nullptr)
        host.meddle();
    for (std::size_t i = 0; i < host.steps.size() && !host.dialog_result; ++i) {
        const host_step &s = host.steps[i];
        HWND__ *c = GetDlgItem(&dialog_window, s.id);
        // As the up-down takes its buddy's text: out of range, it keeps its
        // position and says so.
        if (s.kind == STEP_POS)
            c->typed_wrong = s.value != std::clamp(s.value, c->lo, c->hi);
        if (s.kind == STEP_POS && !c->typed_wrong)
            c->pos = s.value;
        if (s.kind == STEP_CHECK)
            c->check = static_cast<WPARAM>(s.value);
        if (s.kind == STEP_COMMAND || s.kind == STEP_CLOSE)
            proc(&dialog_window, s.kind == STEP_CLOSE ? WM_CLOSE : WM_COMMAND,
                 static_cast<WPARAM>(s.kind == STEP_CLOSE ? 0 : s.id), 0);
    }
    // A dialog the script leaves open would wait for the player for ever.
    return host.dialog_result.value_or(-2);
}

HWND WINAPI GetDlgItem(HWND, int id)
{
    return id >= FIRST_ID && id < FIRST_ID + int(std::size(host.controls)) ? &host.controls[id - FIRST_ID] : nullptr;
}

// The parameters these messages do not use must be zero.
LRESULT WINAPI SendMessageA(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case UDM_SETRANGE:
        must_be_zero(wparam);
        wnd->hi = static_cast<short>(LOWORD(lparam));
        wnd->lo = static_cast<short>(LOWORD(static_cast<DWORD>(lparam) >> 16));
        return 0;
    case UDM_SETBUDDY:
        must_be_zero(static_cast<WPARAM>(lparam));
        wnd->buddy = reinterpret_cast<HWND>(wparam);
        return 0;
    case UDM_SETPOS:
        must_be_zero(wparam);
        wnd->pos = std::clamp(static_cast<int>(LOWORD(lparam)), wnd->lo, wnd->hi);
        return 0;
    case UDM_GETPOS:
        must_be_zero(wparam | static_cast<WPARAM>(lparam));
        return MAKELONG(wnd->pos, wnd->typed_wrong);
    case BM_SETCHECK:
        must_be_zero(static_cast<WPARAM>(lparam));
        wnd->check = wparam;
        return 0;
    case BM_GETCHECK:
        must_be_zero(wparam | static_cast<WPARAM>(lparam));
        return static_cast<LRESULT>(wnd->check);
    default:
        return 0;
    }
}

BOOL WINAPI EndDialog(HWND, INT_PTR result)
{
    host.dialog_result = result;
    return TRUE;
}

DWORD WINAPI GetLastError()
{
    return 1407;  // as when the dialog's class is not registered
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *)
{
    return TRUE;
}

HMODULE WINAPI GetModuleHandleW(const wchar_t *name)
{
    return narrow(name) == kernel32.name ? &kernel32 : nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE dll, LPCSTR name)
{
    const std::string call = std::string(dll != nullptr ? dll->name : "") + " " + name;
    const auto proc = [](auto *f) { return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f)); };
    return call == "kernel32.dll SetDefaultDllDirectories" && !host.old_windows ? proc(SetDefaultDllDirectories)
           : call == "comctl32.dll InitCommonControlsEx"                        ? proc(InitCommonControlsEx)
           : call == "comdlg32.dll GetOpenFileNameA"                            ? proc(GetOpenFileNameA)
                                                                                : nullptr;
}

BOOL WINAPI SetDllDirectoryW(const wchar_t *path)
{
    host.dll_calls.push_back("dll-directory " + (path != nullptr ? "'" + narrow(path) + "'" : "null"));
    return TRUE;
}

// As the system's: the length copied, or the room needed when it does not fit.
UINT WINAPI GetSystemDirectoryW(wchar_t *path, UINT cap)
{
    const std::string &folder = host.system_folder;
    if (folder.size() < cap)
        std::copy_n(folder.c_str(), folder.size() + 1, path);
    return static_cast<UINT>(folder.size() < cap ? folder.size() : folder.size() + 1);
}

HMODULE WINAPI LoadLibraryExW(const wchar_t *path, void *, DWORD flags)
{
    const std::string p = narrow(path), name = p.substr(p.rfind('\\') + 1);
    host.dll_calls.push_back("load " + std::to_string(flags) + " " + p);
    if (host.dll_missing != nullptr && name == host.dll_missing)
        return nullptr;
    return name == comctl32.name ? &comctl32 : name == comdlg32.name ? &comdlg32 : &other_dll;
}
