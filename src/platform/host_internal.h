#pragma once

// Shared by the stand-in's own sources only.

#include "platform/host_script.h"

constexpr int HOST_MAX_WINDOWS = 64;

HWND host_window_new(host_window_kind kind, HWND parent);
void host_window_free(HWND wnd);
void host_windows_free_all();
bool host_window_alive(HWND wnd);
// Handles a message as the window's own class would; not logged.
LRESULT host_window_message(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Sets a window's text as WM_SETTEXT does, telling the dialog about an edit's change.
void host_window_set_text(HWND wnd, const char *text);
// Bytes from `p` to the end of the GlobalAlloc block that holds it; 0 when none does.
size_t host_global_room(const void *p);
void host_global_reset();
// The index-th window of the pool (alive or not).
HWND host_window_at(int index);
// The index-th control of a dialog in creation order, or null.
HWND host_control_at(HWND dlg, int index);
