#include "dialog/options_proc.h"

#include "app/current_target.h"
#include "app/messages.h"
#include "dialog/options_ids.h"
#include "dialog/options_values.h"

namespace {

void set_up(HWND dlg, const patch_target *t)
{
    const options_values v = options_initial(t);
    for (int i = 0; i < PAIR_COUNT; ++i) {
        const updown_pair &p = options_pairs[i];
        HWND updown = GetDlgItem(dlg, p.updown);
        HWND edit = GetDlgItem(dlg, p.edit);
        SendMessageA(updown, UDM_SETRANGE, 0, MAKELPARAM(p.max, p.min));
        SendMessageA(updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
        SendMessageA(updown, UDM_SETPOS, 0, MAKELPARAM(v.position[i], 0));
    }
    // The scan sets only these two; the others start unchecked.
    const options_check scanned[] = {CHECK_EXITGAME, CHECK_WC06};
    for (options_check c : scanned)
        SendMessageA(GetDlgItem(dlg, options_check_ids[c]), BM_SETCHECK, v.check[c] ? BST_CHECKED : BST_UNCHECKED, 0);
}

// UDM_GETPOS gives the position in its low word and, when the field's text
// is no number in the range, a non-zero high word.
options_values read_controls(HWND dlg)
{
    options_values v{};
    for (int i = 0; i < PAIR_COUNT; ++i) {
        const auto pos = static_cast<DWORD>(SendMessageA(GetDlgItem(dlg, options_pairs[i].updown), UDM_GETPOS, 0, 0));
        v.position[i] = LOWORD(pos);
        v.typed_wrong[i] = (pos >> 16) != 0 ? 1 : 0;
    }
    for (int c = 0; c < CHECK_COUNT; ++c)
        v.check[c] = static_cast<int32_t>(SendMessageA(GetDlgItem(dlg, options_check_ids[c]), BM_GETCHECK, 0, 0));
    return v;
}

// A value typed outside its field's range is said, and the dialog stays
// open with nothing written, the caret in that field.
bool refuse_bad_value(HWND dlg, const options_values &v, const patch_target *t)
{
    const int bad = options_bad_pair(&v, t);
    if (bad < 0)
        return false;
    char text[128];
    options_range_text(bad, text, sizeof text);
    show_message(MSG_OUT_OF_RANGE, text);
    SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dlg, options_pairs[bad].edit)), TRUE);
    return true;
}

// 1 when the write failed, so that the exit code tells; 0 otherwise. Either
// way the player is told what OK did.
INT_PTR write_choices(const options_values &v, const patch_target *t)
{
    options_done done;
    const patch_outcome o = options_ok(&v, t, &done);
    if (result_kind_of(o.result) != RESULT_KIND_OK) {
        char detail[PATH_TEXT_SIZE + 512];
        options_failure_text(&o, t->path, detail, sizeof detail);
        show_message_about(MSG_WRITE_ERROR, t->path, detail);
        return 1;
    }
    if (o.result == RESULT_WC06_KEPT)
        show_message(MSG_WC06_KEPT, result_text(o.result));
    char text[SITE_COUNT * 160 + 3 * PATH_TEXT_SIZE + 256];
    options_done_text(&done, t, text, sizeof text);
    show_message(MSG_DONE, text);
    return 0;
}

} // namespace

INT_PTR CALLBACK options_dialog_proc(HWND dlg, UINT msg, WPARAM wparam, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        set_up(dlg, current_target);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == ID_OK) {
            const options_values v = read_controls(dlg);
            if (!refuse_bad_value(dlg, v, current_target))
                EndDialog(dlg, write_choices(v, current_target));
            return TRUE;
        }
        if (LOWORD(wparam) == ID_CANCEL) {
            EndDialog(dlg, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dlg, 0);
        return TRUE;
    case WM_DESTROY:
        return TRUE;
    default:
        return FALSE;
    }
}
