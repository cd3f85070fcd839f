#include "dialog/options_proc.h"

#include "app/current_target.h"
#include "app/messages.h"
#include "dialog/options_ids.h"
#include "patch/apply_patches.h"

namespace {

constexpr int DEFAULT_CLICK_DELAY = 5;
constexpr int MAX_CLICK_DELAY = 6;

struct updown_pair {
    int updown;
    int edit;
    int min;
    int max;
};

enum pair_index : int { PAIR_START_YEAR, PAIR_BOSMAN, PAIR_PROMOTED, PAIR_RELEGATED, PAIR_CLICK_DELAY, PAIR_COUNT };

const updown_pair pairs[PAIR_COUNT] = {
    {ID_START_YEAR_UPDOWN, ID_START_YEAR_EDIT, 2001, 2020},
    {ID_BOSMAN_UPDOWN, ID_BOSMAN_EDIT, 2001, 3000},
    {ID_PROMOTED_UPDOWN, ID_PROMOTED_EDIT, 1, 7},
    {ID_RELEGATED_UPDOWN, ID_RELEGATED_EDIT, 0, 7},
    {ID_CLICK_DELAY_UPDOWN, ID_CLICK_DELAY_EDIT, 1, 6},
};

LRESULT send(HWND dlg, int id, UINT msg, WPARAM wparam, LPARAM lparam)
{
    return SendMessageA(GetDlgItem(dlg, id), msg, wparam, lparam);
}

// The low word as the up-down reports it; its error flag is not looked at.
WORD position(HWND dlg, int updown)
{
    return LOWORD(send(dlg, updown, UDM_GETPOS, 0, 0));
}

bool checked(HWND dlg, int id)
{
    return send(dlg, id, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

WORD initial_position(const patch_target *t, pair_index pair)
{
    switch (pair) {
    case PAIR_START_YEAR:
        return static_cast<WORD>(t->start_year);
    case PAIR_BOSMAN:
        return static_cast<WORD>(t->bosman_year);
    case PAIR_PROMOTED:
        return static_cast<WORD>(static_cast<int16_t>(t->promoted));
    case PAIR_RELEGATED:
        return static_cast<WORD>(static_cast<int16_t>(t->relegated));
    case PAIR_CLICK_DELAY:
    case PAIR_COUNT:
        break;
    }
    return static_cast<WORD>(t->click_delay > 0 ? t->click_delay : DEFAULT_CLICK_DELAY);
}

void set_up(HWND dlg, const patch_target *t)
{
    for (int i = 0; i < PAIR_COUNT; ++i) {
        const updown_pair &p = pairs[i];
        HWND updown = GetDlgItem(dlg, p.updown);
        HWND edit = GetDlgItem(dlg, p.edit);
        SendMessageA(updown, UDM_SETRANGE, 0, MAKELPARAM(p.max, p.min));
        SendMessageA(updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
        SendMessageA(updown, UDM_SETPOS, 0, MAKELPARAM(initial_position(t, static_cast<pair_index>(i)), 0));
    }
    send(dlg, ID_EXITGAME_CHECK, BM_SETCHECK, t->exitgame_installed ? BST_CHECKED : BST_UNCHECKED, 0);
    send(dlg, ID_WC06_CHECK, BM_SETCHECK, t->wc06_installed ? BST_CHECKED : BST_UNCHECKED, 0);
}

// A year site is written only when found and the years are not to be left alone.
void take_year(HWND dlg, int32_t *ofs, int16_t *year, int updown)
{
    HWND leave = GetDlgItem(dlg, ID_LEAVE_YEARS_CHECK);
    if (*ofs > 0 && SendMessageA(leave, BM_GETCHECK, 0, 0) == BST_UNCHECKED) {
        *year = static_cast<int16_t>(position(dlg, updown));
    } else {
        *year = -1;
        *ofs = -1;
    }
}

void take_choices(HWND dlg, patch_target *t)
{
    HWND exitgame = GetDlgItem(dlg, ID_EXITGAME_CHECK);
    if (t->exitgame_ofs > 0)
        t->exitgame_installed = SendMessageA(exitgame, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;

    take_year(dlg, &t->start_year_ofs, &t->start_year, ID_START_YEAR_UPDOWN);
    take_year(dlg, &t->bosman_year_ofs, &t->bosman_year, ID_BOSMAN_UPDOWN);

    t->touch_conference = checked(dlg, ID_KEEP_CONFERENCE_CHECK) ? 0 : 1;
    if (t->conf_counts_ofs > 0 && t->conf_promoted_ofs > 0) {
        t->promoted = static_cast<int8_t>(position(dlg, ID_PROMOTED_UPDOWN));
        t->relegated = static_cast<int8_t>(position(dlg, ID_RELEGATED_UPDOWN));
    } else {
        // The two conference blocks are written together or not at all.
        t->conf_counts_ofs = -1;
        t->conf_promoted_ofs = -1;
    }

    HWND no_delay = GetDlgItem(dlg, ID_NO_CLICK_DELAY_CHECK);
    if (t->click_delay_ofs > 0 && SendMessageA(no_delay, BM_GETCHECK, 0, 0) == BST_UNCHECKED) {
        t->click_delay = static_cast<int8_t>(position(dlg, ID_CLICK_DELAY_UPDOWN));
        if (t->click_delay <= 0 || t->click_delay > MAX_CLICK_DELAY)
            t->click_delay = -1;
    } else {
        t->click_delay_ofs = -1;
        t->click_delay = -1;
    }

    if (!checked(dlg, ID_WC06_CHECK))
        t->wc06_ofs = -1;
}

// 1 when the write failed, so that the exit code tells; 0 otherwise.
INT_PTR write_choices(patch_target *t)
{
    int r = apply_patches(t);
    if (r < 0) {
        show_message(MSG_WRITE_ERROR);
        return 1;
    }
    if (r == APPLY_WC06_KEPT)
        show_message(MSG_WC06_KEPT, apply_result_message(r));
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
            take_choices(dlg, current_target);
            EndDialog(dlg, write_choices(current_target));
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
