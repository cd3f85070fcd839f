#pragma once

#include "platform/win32.h"

// Where this process looks for the DLLs it loads.
enum dll_search : int {
    DLL_SEARCH_SYSTEM32,  // the system folder alone (SetDefaultDllDirectories)
    DLL_SEARCH_LEGACY,    // no such call: DLLs must be named by full path
};

// First thing in both programs: takes the program's own folder and the
// current folder out of the search wherever the system can, so that a DLL
// planted beside the program (a Downloads folder) never runs elevated.
dll_search dll_search_restrict();

// Loads `name` (a bare ASCII file name) from the system folder only; null
// when it is not there or cannot be loaded.
HMODULE dll_search_load(dll_search mode, const char *name);
