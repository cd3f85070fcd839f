#include "app/chooser.h"

#include <cstdio>
#include <cstring>

#include "app/messages.h"
#include "patch/strings.h"

namespace {

// Pairs of description and pattern, the list ended by an empty string.
constexpr char FILE_FILTER[] = "Executables\0*.EXE\0All\0*.*\0";
constexpr const char *CHOOSER_TITLE = "Select your ZANDOR executable";
// OFN_LONGNAMES: without it the old-style dialog returns 8.3 names, which do
// not exist where the volume makes none. OFN_HIDEREADONLY: its "Read Only"
// box would promise what the patcher, which writes the file, cannot keep.
constexpr DWORD CHOOSER_FLAGS =
    OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ENABLEHOOK | OFN_LONGNAMES | OFN_HIDEREADONLY;
constexpr int RETRY_TEXT_SIZE = PATH_TEXT_SIZE + 128;

} // namespace

UINT_PTR CALLBACK chooser_hook(HWND wnd, UINT msg, WPARAM, LPARAM)
{
    if (msg != WM_INITDIALOG)
        return FALSE;
    center_window(wnd);
    return TRUE;
}

char *choose_executable(const system_dlls &dlls)
{
    char file[PATH_TEXT_SIZE] = "";
    char retry_text[RETRY_TEXT_SIZE];
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    // The old record size: no OFN_EXPLORER, so the old-style dialog, whose
    // hook gets the dialog window itself.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.lpstrFilter = FILE_FILTER;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = PATH_TEXT_SIZE;
    ofn.lpstrTitle = CHOOSER_TITLE;
    ofn.Flags = CHOOSER_FLAGS;
    ofn.lpfnHook = chooser_hook;

    // The same record and buffer serve every attempt.
    for (;;) {
        if (dlls.get_open_file_name(&ofn) == 1)
            return copy_string(file);
        std::memset(retry_text, 0, sizeof retry_text);
        std::snprintf(retry_text, sizeof retry_text, message_of(MSG_RETRY).text, file);
        if (show_message(MSG_RETRY, retry_text) != IDRETRY)
            return nullptr;
    }
}
