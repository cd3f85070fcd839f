// The program: one pass from the welcome box to the exit code.

#include "app/chooser.h"
#include "app/current_target.h"
#include "app/messages.h"
#include "patch/strings.h"
#include "dialog/options_layout.h"
#include "dialog/options_proc.h"
#include "platform/win32.h"

namespace {

constexpr int EXIT_OPEN_FAILED = -1;
constexpr int EXIT_NO_MEMORY = 1;

// The up-down class must be registered before the dialog names it.
void register_updown_class()
{
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_UPDOWN_CLASS;
    InitCommonControlsEx(&icc);
}

} // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int)
{
    show_message(MSG_WELCOME);
    char *path = choose_executable();
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
    register_updown_class();
    int result = static_cast<int>(dlg_run(dlg, inst, options_dialog_proc));
    if (result == -1)
        result = static_cast<int>(GetLastError());
    dlg_free(dlg);
    close_target(current_target);
    return result;
}
