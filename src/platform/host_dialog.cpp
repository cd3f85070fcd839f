// The stand-in's dialog manager: creates a dialog from a template, runs the
// scripted user actions through its procedure until EndDialog.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/host_internal.h"

namespace {

constexpr WORD EN_CHANGE_CODE = 0x0300;
constexpr size_t UNBOUNDED_TEMPLATE = 0x10000;

host_window_kind kind_of_class(const char *name)
{
    if (strcasecmp(name, "Button") == 0)
        return HOST_WND_BUTTON;
    if (strcasecmp(name, "Edit") == 0)
        return HOST_WND_EDIT;
    if (strcasecmp(name, "Static") == 0)
        return HOST_WND_STATIC;
    if (strcasecmp(name, "msctls_updown32") == 0 && host.updown_registered)
        return HOST_WND_UPDOWN;
    return HOST_WND_FREE;
}

HWND first_child(HWND dlg, WORD id)
{
    for (int i = 0; i < HOST_MAX_ITEMS; ++i) {
        HWND c = host_control_at(dlg, i);
        if (c == nullptr)
            break;
        if (c->id == id)
            return c;
    }
    return nullptr;
}

LPARAM handle_of(HWND w)
{
    return reinterpret_cast<LPARAM>(w);
}

// Builds the dialog's controls; false (and the error set) when one cannot be.
bool create_controls(HWND dlg, const host_tmpl &t)
{
    HWND previous = nullptr;
    for (int i = 0; i < t.count; ++i) {
        const host_tmpl_item &it = t.items[i];
        host_window_kind kind = kind_of_class(it.class_name);
        if (kind == HOST_WND_FREE) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return false;
        }
        HWND c = host_window_new(kind, dlg);
        if (c == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        std::snprintf(c->class_name, sizeof c->class_name, "%s", it.class_name);
        c->style = it.style;
        c->id = it.id;
        c->rect = {it.x, it.y, it.x + it.cx, it.y + it.cy};
        if (kind != HOST_WND_UPDOWN)
            std::snprintf(c->text, sizeof c->text, "%s", it.title);
        // The sibling created just before becomes the buddy; no text is written yet.
        if (kind == HOST_WND_UPDOWN && (it.style & UDS_AUTOBUDDY))
            c->buddy = previous;
        previous = c;
    }
    return true;
}

void refuse()
{
    ++host.refused_actions;
}

void send_command(HWND dlg, WPARAM wparam, HWND from)
{
    dlg->proc(dlg, WM_COMMAND, wparam, handle_of(from));
}

void perform(HWND dlg, const host_action &a)
{
    HWND c = a.id != 0 ? first_child(dlg, static_cast<WORD>(a.id)) : nullptr;
    bool usable = c != nullptr && !(c->style & WS_DISABLED);
    switch (a.kind) {
    case HOST_TYPE: {
        if (!usable || c->kind != HOST_WND_EDIT) {
            refuse();
            return;
        }
        char typed[HOST_TEXT_MAX];
        size_t n = 0;
        for (const char *p = a.text; *p && n + 1 < sizeof typed; ++p) {
            // A number-only edit refuses every other key.
            if ((c->style & ES_NUMBER) && !std::isdigit(static_cast<unsigned char>(*p)))
                continue;
            typed[n++] = *p;
        }
        typed[n] = '\0';
        host_window_set_text(c, typed);
        return;
    }
    case HOST_CLICK: {
        if (!usable || c->kind != HOST_WND_BUTTON) {
            refuse();
            return;
        }
        DWORD type = c->style & BS_TYPEMASK;
        if (type == BS_GROUPBOX) {
            refuse();
            return;
        }
        if (type == BS_AUTOCHECKBOX)
            c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        send_command(dlg, MAKEWPARAM(c->id, BN_CLICKED), c);
        return;
    }
    case HOST_CLOSE:
        // The default handling of WM_CLOSE turns it into Cancel.
        if (!dlg->proc(dlg, WM_CLOSE, 0, 0))
            send_command(dlg, MAKEWPARAM(IDCANCEL, BN_CLICKED), first_child(dlg, IDCANCEL));
        return;
    case HOST_ESCAPE:
        send_command(dlg, IDCANCEL, first_child(dlg, IDCANCEL));
        return;
    case HOST_ENTER:
        // No push button is the default one: Enter means IDOK.
        send_command(dlg, IDOK, first_child(dlg, IDOK));
        return;
    case HOST_COMMAND:
        send_command(dlg, a.wparam, first_child(dlg, LOWORD(a.wparam)));
        return;
    case HOST_CALL:
        a.call(a.context);
        return;
    }
}

HWND first_focus(HWND dlg)
{
    for (int i = 0; i < HOST_MAX_ITEMS; ++i) {
        HWND c = host_control_at(dlg, i);
        if (c == nullptr)
            break;
        if ((c->style & WS_TABSTOP) && !(c->style & WS_DISABLED))
            return c;
    }
    return host_control_at(dlg, 0);
}

} // namespace

HWND host_control_at(HWND dlg, int index)
{
    int n = 0;
    for (int i = 0; i < HOST_MAX_WINDOWS; ++i) {
        HWND w = host_window_at(i);
        if (host_window_alive(w) && w->parent == dlg && dlg != nullptr) {
            if (n == index)
                return w;
            ++n;
        }
    }
    return nullptr;
}

HWND host_control(int id)
{
    return host_window_alive(host.dialog) ? first_child(host.dialog, static_cast<WORD>(id)) : nullptr;
}

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE inst, LPCDLGTEMPLATEA tmpl, HWND owner,
                                       DLGPROC proc, LPARAM init)
{
    ++host.dialog_calls;
    host.dialog_instance = inst;
    host.dialog_owner = owner;
    host.dialog_init = init;
    host.script_ran_out = 0;
    host_windows_free_all();
    host.dialog = nullptr;

    if (host.dialog_fail_error != 0) {
        SetLastError(host.dialog_fail_error);
        return -1;
    }
    size_t room = host_global_room(tmpl);
    if (host_decode_template(tmpl, room != 0 ? room : UNBOUNDED_TEMPLATE, &host.tmpl) != 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    HWND dlg = host_window_new(HOST_WND_DIALOG, nullptr);
    std::snprintf(dlg->class_name, sizeof dlg->class_name, "#32770");
    std::snprintf(dlg->text, sizeof dlg->text, "%s", host.tmpl.title);
    dlg->style = host.tmpl.style;
    host.dialog = dlg;
    if (!create_controls(dlg, host.tmpl)) {
        host_windows_free_all();
        host.dialog = nullptr;
        return -1;
    }

    dlg->proc = proc;
    host.init_result = proc(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first_focus(dlg)), init);
    int next = 0;
    while (!dlg->ended) {
        if (next >= host.action_count) {
            host.script_ran_out = 1;
            break;
        }
        perform(dlg, host.actions[next++]);
    }
    INT_PTR result = dlg->ended ? dlg->result : 0;
    dlg->ended = 1;
    proc(dlg, WM_DESTROY, 0, 0);
    return result;
}

HWND WINAPI GetDlgItem(HWND dlg, int id)
{
    HWND c = host_window_alive(dlg) ? first_child(dlg, static_cast<WORD>(id)) : nullptr;
    if (c == nullptr)
        SetLastError(host_window_alive(dlg) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
    return c;
}

BOOL WINAPI EndDialog(HWND dlg, INT_PTR result)
{
    if (!host_window_alive(dlg) || dlg->kind != HOST_WND_DIALOG) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    dlg->ended = 1;
    dlg->result = result;
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    LRESULT result = host_window_message(wnd, msg, wparam, lparam);
    if (host.sent_count < HOST_MAX_LOG)
        host.sent[host.sent_count] = {host_window_alive(wnd) ? wnd->id : WORD(0), msg, wparam, lparam, result};
    ++host.sent_count;
    return result;
}
