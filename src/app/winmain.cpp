// The program: one pass from the welcome box to the exit code.

#include "app/chooser.h"
#include "app/current_target.h"
#include "app/messages.h"
#include "patch/site_words.h"
#include "patch/strings.h"
#include "dialog/options_layout.h"
#include "dialog/options_proc.h"
#include "platform/system_dlls.h"
#include "platform/win32.h"

namespace {

constexpr int EXIT_OPEN_FAILED = -1;
constexpr int EXIT_NO_MEMORY = 1;
constexpr int EXIT_NO_SYSTEM_DLL = 126;  // Windows' own code for a DLL not found

// The up-down class must be registered before the dialog names it.
void register_updown_class(const system_dlls &dlls)
{
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_UPDOWN_CLASS;
    dlls.init_common_controls(&icc);
}

} // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int)
{
    // Before anything else can load a DLL by name.
    system_dlls dlls{};
    if (const char *missing = system_dlls_load(&dlls)) {
        show_message_about(MSG_SYSTEM_DLL, missing, "cannot be loaded from the Windows system folder");
        return EXIT_NO_SYSTEM_DLL;
    }
    show_message(MSG_WELCOME);
    char *path = choose_executable(dlls);
    if (path == nullptr)
        return 0;
    file_cause cause = CAUSE_NONE;
    current_target = open_target(path, &cause);
    if (current_target == nullptr) {
        // The first line as ever; then the path and why, when the system said.
        show_message_about(MSG_OPEN_ERROR, path, cause_text(cause));
        free_string(path);
        return EXIT_OPEN_FAILED;
    }
    free_string(path);
    scan_target(current_target);
    print_scan_notes(stdout, current_target);
    // What a read error hid could be anything: no file to offer for writing.
    if (target_read_error_site(current_target) >= 0) {
        close_target(current_target);
        show_message(MSG_OPEN_ERROR);
        return EXIT_OPEN_FAILED;
    }

    dlg_template *dlg = layout_options_dialog(current_target);
    if (dlg == nullptr) {
        // Too little memory for even the template: leave quietly.
        close_target(current_target);
        return EXIT_NO_MEMORY;
    }
    register_updown_class(dlls);
    int result = static_cast<int>(dlg_run(dlg, inst, options_dialog_proc));
    if (result == -1)
        result = static_cast<int>(GetLastError());
    dlg_free(dlg);
    close_target(current_target);
    return result;
}
