// The stand-in's windows and how each class answers its messages: buttons,
// edits and up-downs as user32 and comctl32 do (Wine's button.c, updown.c).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host_internal.h"

namespace {

HWND__ windows[HOST_MAX_WINDOWS];

bool is_check_box(const HWND__ *w)
{
    DWORD type = w->style & BS_TYPEMASK;
    return type >= BS_CHECKBOX && type <= 6;  // check boxes, 3-state boxes, radio buttons
}

WPARAM max_check_state(const HWND__ *w)
{
    DWORD type = w->style & BS_TYPEMASK;
    return static_cast<WPARAM>((type == 5 || type == 6) ? BST_INDETERMINATE : BST_CHECKED);
}

bool ud_in_bounds(const HWND__ *w, int val)
{
    if (w->ud_max > w->ud_min)
        return w->ud_min <= val && val <= w->ud_max;
    return w->ud_max <= val && val <= w->ud_min;
}

// Reads the buddy's text into the position; false when it is no valid one.
bool ud_get_buddy_int(HWND__ *w)
{
    if (!(w->style & UDS_SETBUDDYINT) || !host_window_alive(w->buddy))
        return false;
    // The buddy's text is read into room for 19 characters.
    char txt[20];
    std::strncpy(txt, w->buddy->text, sizeof txt - 1);
    txt[sizeof txt - 1] = '\0';
    char *dst = txt;
    for (const char *src = txt; *src; ++src)
        if (*src != ',')
            *dst++ = *src;
    *dst = '\0';
    char *end = nullptr;
    errno = 0;
    long val = std::strtol(txt, &end, 10);
    if (*end != '\0' || errno != 0 || !ud_in_bounds(w, static_cast<int>(val)))
        return false;
    w->ud_pos = static_cast<int>(val);
    return true;
}

int ud_get_pos(HWND__ *w, bool *err)
{
    bool ok = ud_get_buddy_int(w);
    int val = w->ud_pos;
    if (!ud_in_bounds(w, val)) {
        if ((w->ud_min < w->ud_max && val < w->ud_min) || (w->ud_min > w->ud_max && val > w->ud_min))
            val = w->ud_min;
        else
            val = w->ud_max;
        ok = false;
    }
    *err = !ok;
    return val;
}

void ud_set_buddy_int(HWND__ *w)
{
    if (!(w->style & UDS_SETBUDDYINT) || !host_window_alive(w->buddy))
        return;
    char txt[24];
    int len = std::snprintf(txt, sizeof txt, "%d", w->ud_pos);
    if (!(w->style & UDS_NOTHOUSANDS) && len > 3) {
        char grouped[40];
        int start = len % 3 == 0 ? 3 : len % 3;
        std::memcpy(grouped, txt, start);
        int out = start;
        for (int i = start; i < len; ++i) {
            if ((i - start) % 3 == 0)
                grouped[out++] = ',';
            grouped[out++] = txt[i];
        }
        grouped[out] = '\0';
        std::memcpy(txt, grouped, sizeof txt - 1);
        txt[sizeof txt - 1] = '\0';
    }
    if (std::strcmp(w->buddy->text, txt) != 0)
        host_window_set_text(w->buddy, txt);
}

LRESULT updown_message(HWND__ *w, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case UDM_SETRANGE:
        w->ud_max = static_cast<short>(LOWORD(lparam));
        w->ud_min = static_cast<short>(HIWORD(lparam));
        return 0;
    case UDM_GETRANGE:
        return MAKELONG(w->ud_max, w->ud_min);
    case UDM_SETPOS: {
        int val = static_cast<short>(LOWORD(lparam));
        if (!ud_in_bounds(w, val)) {
            if (val < w->ud_min)
                val = w->ud_min;
            if (val > w->ud_max)
                val = w->ud_max;
        }
        int previous = w->ud_pos;
        w->ud_pos = val;
        ud_set_buddy_int(w);
        return previous;
    }
    case UDM_GETPOS: {
        bool err = false;
        int val = ud_get_pos(w, &err);
        return static_cast<LRESULT>(static_cast<DWORD>(MAKELONG(val, err ? 1 : 0)));
    }
    case UDM_SETBUDDY: {
        HWND previous = w->buddy;
        w->buddy = reinterpret_cast<HWND>(wparam);
        return reinterpret_cast<LRESULT>(previous);
    }
    case UDM_GETBUDDY:
        return reinterpret_cast<LRESULT>(w->buddy);
    default:
        return 0;
    }
}

LRESULT button_message(HWND__ *w, UINT msg, WPARAM wparam)
{
    switch (msg) {
    case BM_GETCHECK:
        return is_check_box(w) ? static_cast<LRESULT>(w->check) : 0;
    case BM_SETCHECK:
        if (is_check_box(w))
            w->check = wparam > max_check_state(w) ? max_check_state(w) : wparam;
        return 0;
    default:
        return 0;
    }
}

} // namespace

bool host_window_alive(HWND wnd)
{
    return wnd != nullptr && wnd >= windows && wnd < windows + HOST_MAX_WINDOWS && wnd->kind != HOST_WND_FREE;
}

HWND host_window_new(host_window_kind kind, HWND parent)
{
    for (HWND__ &w : windows) {
        if (w.kind != HOST_WND_FREE)
            continue;
        w = {};
        w.kind = kind;
        w.parent = parent;
        // comctl32's defaults for a new up-down.
        w.ud_min = 100;
        w.ud_max = 0;
        return &w;
    }
    return nullptr;
}

void host_window_free(HWND wnd)
{
    if (host_window_alive(wnd))
        *wnd = {};
}

void host_windows_free_all()
{
    for (HWND__ &w : windows)
        w = {};
}

void host_window_set_text(HWND wnd, const char *text)
{
    std::snprintf(wnd->text, sizeof wnd->text, "%s", text != nullptr ? text : "");
    // A single-line edit tells its dialog of every change, WM_SETTEXT included.
    HWND dlg = wnd->parent;
    if (wnd->kind == HOST_WND_EDIT && host_window_alive(dlg) && dlg->proc != nullptr && !dlg->ended)
        dlg->proc(dlg, WM_COMMAND, MAKEWPARAM(wnd->id, 0x0300 /* EN_CHANGE */), reinterpret_cast<LPARAM>(wnd));
}

LRESULT host_window_message(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    if (!host_window_alive(wnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (msg) {
    case WM_SETTEXT:
        host_window_set_text(wnd, reinterpret_cast<const char *>(lparam));
        return TRUE;
    case WM_GETTEXT: {
        if (wparam == 0)
            return 0;
        int n = std::snprintf(reinterpret_cast<char *>(lparam), wparam, "%s", wnd->text);
        return n < static_cast<int>(wparam) ? n : static_cast<int>(wparam) - 1;
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(std::strlen(wnd->text));
    default:
        break;
    }
    if (wnd->kind == HOST_WND_UPDOWN)
        return updown_message(wnd, msg, wparam, lparam);
    if (wnd->kind == HOST_WND_BUTTON)
        return button_message(wnd, msg, wparam);
    return 0;
}

HWND host_window_at(int index)
{
    return &windows[index];
}
