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
using WCHAR = char16_t;
using LPSTR = char *;
using LPCSTR = const char *;
using LPWSTR = WCHAR *;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using SIZE_T = size_t;
using HGLOBAL = void *;
using LPVOID = void *;

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
    DWORD lStructSize;
    HWND hwndOwner;
    LPCSTR lpstrFilter;
    DWORD nFilterIndex;
    LPSTR lpstrFile;
    DWORD nMaxFile;
    LPCSTR lpstrTitle;
    DWORD Flags;
    LPOFNHOOKPROC lpfnHook;
};
constexpr DWORD OPENFILENAME_SIZE_VERSION_400A = 76;

struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};
constexpr DWORD ICC_UPDOWN_CLASS = 0x10;

// Messages
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_NEXTDLGCTL = 0x0028;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT UDM_SETRANGE = 0x0400 + 101;
constexpr UINT UDM_SETPOS = 0x0400 + 103;
constexpr UINT UDM_GETPOS = 0x0400 + 104;
constexpr UINT UDM_SETBUDDY = 0x0400 + 105;

constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;

// Window and control styles
constexpr DWORD WS_CHILD = 0x40000000u;
constexpr DWORD WS_VISIBLE = 0x10000000u;
constexpr DWORD WS_DISABLED = 0x08000000u;
constexpr DWORD WS_BORDER = 0x00800000u;
constexpr DWORD WS_CAPTION = 0x00C00000u;
constexpr DWORD WS_SYSMENU = 0x00080000u;
constexpr DWORD WS_TABSTOP = 0x00010000u;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_CENTER = 0x0800;
constexpr DWORD BS_PUSHBUTTON = 0;
constexpr DWORD BS_AUTOCHECKBOX = 3;
constexpr DWORD BS_GROUPBOX = 7;
constexpr DWORD SS_LEFT = 0;
constexpr DWORD ES_LEFT = 0;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr DWORD UDS_SETBUDDYINT = 0x02;
constexpr DWORD UDS_AUTOBUDDY = 0x10;
constexpr DWORD UDS_NOTHOUSANDS = 0x80;

// Message boxes
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDRETRY = 4;

// Open-file dialog
constexpr DWORD OFN_HIDEREADONLY = 0x4;
constexpr DWORD OFN_ENABLEHOOK = 0x20;
constexpr DWORD OFN_LONGNAMES = 0x200000;
constexpr DWORD OFN_PATHMUSTEXIST = 0x800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

// Memory, text, metrics
constexpr UINT GPTR = 0x40;  // fixed and zero-filled
constexpr UINT CP_ACP = 0;
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// DLLs
constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x8;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800;

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA *ofn);
BOOL WINAPI GetWindowRect(HWND wnd, RECT *rect);
int WINAPI GetSystemMetrics(int index);
BOOL WINAPI MoveWindow(HWND wnd, int x, int y, int width, int height, BOOL repaint);
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID WINAPI GlobalLock(HGLOBAL mem);
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
