#pragma once

#include "platform/win32.h"

// The two calls the patcher takes from DLLs that are not Known DLLs. They
// are not imported: Windows resolves imports before any of the program's
// code runs, looking in the program's own folder first for those DLLs.
struct system_dlls {
    BOOL(WINAPI *init_common_controls)(const INITCOMMONCONTROLSEX *icc);
    BOOL(WINAPI *get_open_file_name)(OPENFILENAMEA *ofn);
};

// First thing in WinMain: restricts the DLL search to the system folder,
// then loads comctl32 and comdlg32 from there and fills `dlls`. Null when
// done, else the name of the DLL that could not be loaded, or that lacks
// its call.
const char *system_dlls_load(system_dlls *dlls);
