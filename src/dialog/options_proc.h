#pragma once

#include "platform/win32.h"

// Loads current_target into the controls, and on OK writes the choices into
// it and into the executable. Ends with 0, or 1 when the write failed.
INT_PTR CALLBACK options_dialog_proc(HWND dlg, UINT msg, WPARAM wparam, LPARAM lparam);
