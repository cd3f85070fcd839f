// The stand-in's system calls outside the dialog manager.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host_internal.h"

host_state host;

namespace {

struct global_block {
    unsigned char *mem;
    size_t size;
};
global_block blocks[16];

void copy_text(char *dst, size_t cap, const char *src)
{
    std::snprintf(dst, cap, "%s", src != nullptr ? src : "");
}

} // namespace

void host_global_reset()
{
    for (global_block &b : blocks) {
        std::free(b.mem);
        b = {};
    }
}

void host_reset()
{
    host_windows_free_all();
    host_global_reset();
    std::memset(&host, 0, sizeof host);
    host.screen_cx = 1024;
    host.screen_cy = 768;
    host.chooser_cx = 300;
    host.chooser_cy = 200;
}

void host_script_boxes(const int *answers, int count)
{
    host.box_answer_count = count < HOST_MAX_SCRIPT ? count : HOST_MAX_SCRIPT;
    for (int i = 0; i < host.box_answer_count; ++i)
        host.box_answers[i] = answers[i];
}

void host_script_files(const host_file_attempt *attempts, int count)
{
    host.file_attempt_count = count < HOST_MAX_SCRIPT ? count : HOST_MAX_SCRIPT;
    for (int i = 0; i < host.file_attempt_count; ++i)
        host.file_attempts[i] = attempts[i];
}

void host_script_dialog(const host_action *actions, int count)
{
    host.action_count = count < HOST_MAX_SCRIPT ? count : HOST_MAX_SCRIPT;
    for (int i = 0; i < host.action_count; ++i)
        host.actions[i] = actions[i];
}

DWORD WINAPI GetLastError()
{
    return host.last_error;
}

void WINAPI SetLastError(DWORD code)
{
    host.last_error = code;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    int n = host.box_count++;
    // An unscripted box is answered as if Enter were pressed.
    int answer = n < host.box_answer_count ? host.box_answers[n] : IDOK;
    if (n < HOST_MAX_SCRIPT) {
        host_box_call &call = host.boxes[n];
        call.owner = owner;
        copy_text(call.text, sizeof call.text, text);
        copy_text(call.caption, sizeof call.caption, caption);
        call.type = type;
    }
    return answer;
}

BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA *ofn)
{
    int n = host.file_call_count++;
    host_file_call scratch{};
    host_file_call &call = n < HOST_MAX_SCRIPT ? host.file_calls[n] : scratch;
    call = {};
    call.struct_size = ofn->lStructSize;
    if (ofn->lStructSize != OPENFILENAME_SIZE_VERSION_400A && ofn->lStructSize != sizeof(OPENFILENAMEA))
        return FALSE;  // CDERR_STRUCTSIZE
    call.owner = ofn->hwndOwner;
    call.instance = ofn->hInstance;
    if (ofn->lpstrFilter != nullptr) {
        // The list ends at the first empty string.
        int i = 0;
        while (i + 1 < static_cast<int>(sizeof call.filter)) {
            call.filter[i] = ofn->lpstrFilter[i];
            if (ofn->lpstrFilter[i] == '\0' && (i == 0 || ofn->lpstrFilter[i - 1] == '\0'))
                break;
            ++i;
        }
        call.filter_len = i + 1;
    }
    call.custom_filter = ofn->lpstrCustomFilter;
    call.max_cust_filter = ofn->nMaxCustFilter;
    call.filter_index = ofn->nFilterIndex;
    call.file = ofn->lpstrFile;
    call.max_file = ofn->nMaxFile;
    if (ofn->lpstrFile != nullptr)
        copy_text(call.file_at_entry, sizeof call.file_at_entry, ofn->lpstrFile);
    call.file_title = ofn->lpstrFileTitle;
    call.max_file_title = ofn->nMaxFileTitle;
    call.initial_dir = ofn->lpstrInitialDir;
    copy_text(call.title, sizeof call.title, ofn->lpstrTitle);
    call.flags = ofn->Flags;
    call.def_ext = ofn->lpstrDefExt;
    call.cust_data = ofn->lCustData;
    call.template_name = ofn->lpTemplateName;

    if ((ofn->Flags & OFN_ENABLEHOOK) && ofn->lpfnHook != nullptr) {
        // The old-style dialog hands the hook the dialog box itself.
        HWND wnd = host_window_new(HOST_WND_DIALOG, nullptr);
        std::snprintf(wnd->class_name, sizeof wnd->class_name, "#32770");
        copy_text(wnd->text, sizeof wnd->text, ofn->lpstrTitle);
        wnd->rect = {10, 20, 10 + host.chooser_cx, 20 + host.chooser_cy};
        call.window_before = wnd->rect;
        call.hooked = 1;
        call.hook_result = ofn->lpfnHook(wnd, WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(ofn));
        call.window_after = wnd->rect;
        call.moves = wnd->moves;
        call.repaint = wnd->repaint;
        host_window_free(wnd);
    }

    if (n >= host.file_attempt_count)
        return FALSE;  // nothing scripted: the user cancels
    const host_file_attempt &a = host.file_attempts[n];
    if (a.filter_index != 0)
        ofn->nFilterIndex = a.filter_index;
    if (a.path != nullptr) {
        if (ofn->lpstrFile == nullptr || std::strlen(a.path) + 1 > ofn->nMaxFile)
            return FALSE;  // FNERR_BUFFERTOOSMALL
        std::memcpy(ofn->lpstrFile, a.path, std::strlen(a.path) + 1);
    }
    return a.result;
}

BOOL WINAPI GetWindowRect(HWND wnd, RECT *rect)
{
    if (!host_window_alive(wnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = wnd->rect;
    return TRUE;
}

int WINAPI GetSystemMetrics(int index)
{
    if (index == SM_CXSCREEN)
        return host.screen_cx;
    if (index == SM_CYSCREEN)
        return host.screen_cy;
    return 0;
}

BOOL WINAPI MoveWindow(HWND wnd, int x, int y, int width, int height, BOOL repaint)
{
    if (!host_window_alive(wnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    wnd->rect = {x, y, x + width, y + height};
    ++wnd->moves;
    wnd->repaint = repaint;
    return TRUE;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes)
{
    if (host.global_fail_next) {
        host.global_fail_next = 0;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    for (global_block &b : blocks) {
        if (b.mem != nullptr)
            continue;
        // Leave the non-zeroed case visibly dirty.
        b.mem = static_cast<unsigned char *>(std::malloc(bytes != 0 ? bytes : 1));
        std::memset(b.mem, (flags & GMEM_ZEROINIT) ? 0 : 0xCD, bytes);
        b.size = bytes;
        ++host.global_live;
        return b.mem;
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

LPVOID WINAPI GlobalLock(HGLOBAL mem)
{
    return mem;
}

BOOL WINAPI GlobalUnlock(HGLOBAL)
{
    return FALSE;  // a fixed block is never locked
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem)
{
    for (global_block &b : blocks) {
        if (b.mem != nullptr && b.mem == mem) {
            std::free(b.mem);
            b = {};
            --host.global_live;
            return nullptr;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return mem;
}

size_t host_global_room(const void *p)
{
    auto *at = static_cast<const unsigned char *>(p);
    for (const global_block &b : blocks) {
        if (b.mem != nullptr && at >= b.mem && at < b.mem + b.size)
            return static_cast<size_t>(b.mem + b.size - at);
    }
    return 0;
}

int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR src, int src_len,
                               LPWSTR dst, int dst_cap)
{
    ++host.wide_calls;
    if (code_page != CP_ACP || flags != 0 || src == nullptr || dst_cap < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int need = src_len < 0 ? static_cast<int>(std::strlen(src)) + 1 : src_len;
    if (dst_cap == 0)
        return need;
    // Like the system: fills what fits, then fails when the rest does not.
    int n = need < dst_cap ? need : dst_cap;
    for (int i = 0; i < n; ++i)
        dst[i] = static_cast<WCHAR>(static_cast<unsigned char>(src[i]));
    if (need > dst_cap) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return need;
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *icc)
{
    ++host.icc_calls;
    if (icc == nullptr || icc->dwSize != sizeof(INITCOMMONCONTROLSEX))
        return FALSE;
    if (icc->dwICC & ICC_UPDOWN_CLASS)
        host.updown_registered = 1;
    return TRUE;
}
