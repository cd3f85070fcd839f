#pragma once

#include "platform/system_dlls.h"
#include "platform/win32.h"

// Lets the user pick the game executable, asking again after every failed or
// cancelled attempt. A copy_string copy of the path, or null when the user
// gives up.
char *choose_executable(const system_dlls &dlls);
// Centres the file dialog when it starts; leaves every message to the dialog.
UINT_PTR CALLBACK chooser_hook(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Centres a window on the primary screen, keeping it on screen where it fits.
BOOL center_window(HWND wnd);
