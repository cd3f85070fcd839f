#pragma once

// Host stand-in for the Win32 calls the patcher makes, for the host tests
// only: the same names, types and constants as the Windows headers (values
// from the Windows SDK), backed by the scripted model of host_ui.h.

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

using BOOL = int;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = unsigned int;
using LPSTR = char *;
using LPCSTR = const char *;
using LPWSTR = char16_t *;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using HGLOBAL = void *;

struct HWND__;
using HWND = HWND__ *;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__ *;
using HMODULE = HINSTANCE;
using FARPROC = intptr_t(WINAPI *)();

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))

struct RECT {
    LONG left, top, right, bottom;
};

struct DLGTEMPLATE;
using LPCDLGTEMPLATEA = const DLGTEMPLATE *;

using DLGPROC = INT_PTR(CALLBACK *)(HWND, UINT, WPARAM, LPARAM);
using LPOFNHOOKPROC = UINT_PTR(CALLBACK *)(HWND, UINT, WPARAM, LPARAM);

// The fields the program sets, and the owner it leaves empty.
struct OPENFILENAMEA {
    DWORD lStructSize, nFilterIndex, nMaxFile, Flags;
    HWND hwndOwner;
    LPCSTR lpstrFilter, lpstrTitle;
    LPSTR lpstrFile;
    LPOFNHOOKPROC lpfnHook;
};
constexpr DWORD OPENFILENAME_SIZE_VERSION_400A = 76;

struct INITCOMMONCONTROLSEX {
    DWORD dwSize, dwICC;
};
constexpr DWORD ICC_UPDOWN_CLASS = 0x10;

// Messages
constexpr UINT WM_DESTROY = 0x0002, WM_CLOSE = 0x0010, WM_NEXTDLGCTL = 0x0028, WM_INITDIALOG = 0x0110,
               WM_COMMAND = 0x0111, BM_GETCHECK = 0x00F0, BM_SETCHECK = 0x00F1;
constexpr UINT UDM_SETRANGE = 0x0400 + 101, UDM_SETPOS = 0x0400 + 103, UDM_GETPOS = 0x0400 + 104,
               UDM_SETBUDDY = 0x0400 + 105;
constexpr int BST_UNCHECKED = 0, BST_CHECKED = 1;

// Window and control styles
constexpr DWORD WS_CHILD = 0x40000000u, WS_VISIBLE = 0x10000000u, WS_DISABLED = 0x08000000u,
                WS_BORDER = 0x00800000u, WS_CAPTION = 0x00C00000u, WS_SYSMENU = 0x00080000u,
                WS_TABSTOP = 0x00010000u;
constexpr DWORD DS_SETFONT = 0x40, DS_MODALFRAME = 0x80, DS_CENTER = 0x0800;
constexpr DWORD BS_PUSHBUTTON = 0, BS_AUTOCHECKBOX = 3, BS_GROUPBOX = 7, SS_LEFT = 0, ES_LEFT = 0,
                ES_NUMBER = 0x2000;
constexpr DWORD UDS_SETBUDDYINT = 0x02, UDS_AUTOBUDDY = 0x10, UDS_NOTHOUSANDS = 0x80;

// Message boxes
constexpr UINT MB_OK = 0x0, MB_RETRYCANCEL = 0x5, MB_ICONERROR = 0x10, MB_ICONWARNING = 0x30,
               MB_ICONINFORMATION = 0x40, MB_DEFBUTTON2 = 0x100, MB_TASKMODAL = 0x2000;
constexpr int IDOK = 1, IDCANCEL = 2, IDRETRY = 4;

// Open-file dialog
constexpr DWORD OFN_HIDEREADONLY = 0x4, OFN_ENABLEHOOK = 0x20, OFN_LONGNAMES = 0x200000,
                OFN_PATHMUSTEXIST = 0x800, OFN_FILEMUSTEXIST = 0x1000;

// Memory (GPTR: fixed and zero-filled), text, metrics, DLLs
constexpr UINT GPTR = 0x40, CP_ACP = 0;
constexpr int SM_CXSCREEN = 0, SM_CYSCREEN = 1;
constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x8, LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800;

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA *ofn);
BOOL WINAPI GetWindowRect(HWND wnd, RECT *rect);
int WINAPI GetSystemMetrics(int index);
BOOL WINAPI MoveWindow(HWND wnd, int x, int y, int width, int height, BOOL repaint);
HGLOBAL WINAPI GlobalAlloc(UINT flags, size_t bytes);
void *WINAPI GlobalLock(HGLOBAL mem);
BOOL WINAPI GlobalUnlock(HGLOBAL mem);
HGLOBAL WINAPI GlobalFree(HGLOBAL mem);
int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR src, int src_len,
                               LPWSTR dst, int dst_cap);
INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE inst, LPCDLGTEMPLATEA tmpl, HWND owner,
                                       DLGPROC proc, LPARAM init);
HWND WINAPI GetDlgItem(HWND dlg, int id);
LRESULT WINAPI SendMessageA(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam);
BOOL WINAPI EndDialog(HWND dlg, INT_PTR result);
DWORD WINAPI GetLastError();
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *icc);
HMODULE WINAPI GetModuleHandleW(const wchar_t *name);
FARPROC WINAPI GetProcAddress(HMODULE dll, LPCSTR name);
BOOL WINAPI SetDllDirectoryW(const wchar_t *path);
UINT WINAPI GetSystemDirectoryW(wchar_t *path, UINT cap);
HMODULE WINAPI LoadLibraryExW(const wchar_t *path, void *file, DWORD flags);

// The program's entry point, called by the tests in place of the runtime's
// start-up code.
int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd_line, int show);
