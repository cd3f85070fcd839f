/* Planted beside the patcher as COMCTL32.DLL and COMDLG32.DLL: exports the
   calls the patcher once imported from them (or loading fails before
   DllMain), and leaves NAME.ran beside itself when it is loaded. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

__declspec(dllexport) int InitCommonControlsEx(void) { return 0; }
__declspec(dllexport) int GetOpenFileNameA(void) { return 0; }

BOOL WINAPI DllMain(HINSTANCE dll, DWORD reason, LPVOID reserved)
{
    char path[MAX_PATH + 8];
    DWORD len = GetModuleFileNameA(dll, path, MAX_PATH);
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH && len > 0 && len < MAX_PATH)
        CloseHandle(CreateFileA(lstrcatA(path, ".ran"), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    return TRUE;
}
