#include "platform/dll_search.h"

namespace {

using set_default_dll_directories = BOOL(WINAPI *)(DWORD flags);

} // namespace

dll_search dll_search_restrict()
{
    // Looked up: XP, Vista, and 7 without KB2533623 lack it, and a static
    // import of it would keep the program from starting there.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    auto set_default = reinterpret_cast<set_default_dll_directories>(reinterpret_cast<void (*)()>(proc));
    if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return DLL_SEARCH_SYSTEM32;
    // Takes the current folder out; the program's own folder stays first,
    // which is why every DLL is then loaded by its full path. When even this
    // fails there is nothing more to take out.
    SetDllDirectoryW(L"");
    return DLL_SEARCH_LEGACY;
}

HMODULE dll_search_load(dll_search mode, const char *name)
{
    wchar_t path[MAX_PATH];
    UINT len = 0;
    if (mode == DLL_SEARCH_LEGACY) {
        len = GetSystemDirectoryW(path, MAX_PATH);
        if (len == 0 || len >= MAX_PATH - 1)
            return nullptr;
        path[len++] = L'\\';
    }
    for (; *name != '\0'; ++name) {
        if (len >= MAX_PATH - 1)
            return nullptr;
        path[len++] = static_cast<wchar_t>(*name);
    }
    path[len] = L'\0';
    // By full path, the DLL's own dependencies are looked for in its folder
    // (the system folder) first.
    return LoadLibraryExW(path, nullptr,
                          mode == DLL_SEARCH_SYSTEM32 ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}
