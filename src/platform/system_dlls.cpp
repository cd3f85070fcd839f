#include "platform/system_dlls.h"

#include <iterator>

#include "platform/dll_search.h"

namespace {

// Loaded by name by Windows itself into an elevated program with a file
// dialog (the well-known installers preload the same). Where the search
// cannot be limited to the system folder they are loaded first by full path,
// so that a copy beside the program is never found. A DLL the system lacks
// (not every Windows has all of them) is skipped.
const char *const PRELOADED[] = {"uxtheme.dll", "dwmapi.dll",  "version.dll", "cryptbase.dll", "propsys.dll",
                                 "userenv.dll", "oleacc.dll",  "clbcatq.dll", "apphelp.dll",   "setupapi.dll",
                                 "ntmarta.dll", "profapi.dll", "comres.dll"};

struct system_call {
    const char *dll, *name;
};

// In this order: comdlg32 needs comctl32, which is then loaded already.
const system_call CALLS[] = {{"comctl32.dll", "InitCommonControlsEx"}, {"comdlg32.dll", "GetOpenFileNameA"}};

template <typename F> void take(FARPROC proc, F *call)
{
    *call = reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

} // namespace

const char *system_dlls_load(system_dlls *dlls)
{
    const dll_search mode = dll_search_restrict();
    if (mode == DLL_SEARCH_LEGACY)
        for (const char *name : PRELOADED)
            dll_search_load(mode, name);
    FARPROC procs[std::size(CALLS)];
    for (std::size_t i = 0; i < std::size(CALLS); ++i) {
        HMODULE dll = dll_search_load(mode, CALLS[i].dll);
        procs[i] = dll != nullptr ? GetProcAddress(dll, CALLS[i].name) : nullptr;
        if (procs[i] == nullptr)
            return CALLS[i].dll;
    }
    take(procs[0], &dlls->init_common_controls);
    take(procs[1], &dlls->get_open_file_name);
    return nullptr;
}
